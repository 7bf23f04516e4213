# SPDX-FileCopyrightText: 2026 Orvane
# SPDX-License-Identifier: GPL-3.0-or-later

'''The program's frame seen from outside: its bus name and object, a second
instance, termination signals, translation loading and the log file.'''
import json
import os
import pwd
import re
import signal
import socket
import stat
import subprocess
import tempfile
import time
import unittest
import xml.etree.ElementTree as ET

from orvane_testlib import (DaemonTestCase, FaultPeer, SESSION_NAME, SYSTEM_DAEMON_NAME, SYSTEM_DAEMON_PATH,
                            SYSTEM_DAEMON_IFACE, TMPDIR, DAEMON, WAIT, needs, HARNESS_DIR, wait_until, name_has_owner,
                            wait_for_daemon)

import dbus
import dbus.bus

STARTED = 'Orvane Appstore Session Daemon started'
LOG_NAME = 'orvane-appstore-session-daemon.log'
USER = pwd.getpwuid(os.getuid()).pw_name
TIMESTAMP = r'\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} '


def read(path):
    with open(path) as f:
        return f.read()


class NoSessionBusTest(DaemonTestCase):
    def test_no_session_bus_refuses_to_start(self):
        env = self.daemon_env(DBUS_SESSION_BUS_ADDRESS='unix:path=' + os.path.join(TMPDIR, 'no-such-bus'))
        result = subprocess.run([DAEMON], env=env, capture_output=True, text=True, timeout=30)
        self.assertEqual(result.returncode, 255)
        self.assertIn('Register D-Bus service failed:', result.stderr)
        self.assertIn('Register D-Bus failed, exit', result.stderr)


class SessionObjectTest(DaemonTestCase):
    def setUp(self):
        super().setUp()
        self.system_daemon = self.start_system_daemon()
        self.daemon = self.start_daemon()

    def test_object_exports_only_instance(self):
        obj = self.session_bus.get_object(SESSION_NAME, '/com/orvane/appstore/daemon')
        xml = obj.Introspect(dbus_interface='org.freedesktop.DBus.Introspectable')
        interfaces = {i.get('name'): i for i in ET.fromstring(xml).findall('interface')}
        self.assertIn(SESSION_NAME, interfaces)
        own = interfaces[SESSION_NAME]
        self.assertEqual([(c.tag, c.get('name')) for c in own], [('method', 'Instance')])
        self.assertEqual(list(own.find('method')), [], 'Instance takes and returns nothing')
        # Nothing but the standard interfaces of the bus library beside ours.
        self.assertTrue(set(interfaces) - {SESSION_NAME} <= {
            'org.freedesktop.DBus.Introspectable', 'org.freedesktop.DBus.Peer',
            'org.freedesktop.DBus.Properties'}, interfaces.keys())

    def test_each_instance_call_logs_once(self):
        for calls in (1, 2, 3):
            self.assertIsNone(self.call_instance())
            self.daemon.wait_log(STARTED, count=calls)
        self.assertEqual(len(self.daemon.lines(STARTED)), 3)

    def test_second_instance_exits_255_without_application(self):
        self.system_daemon.wait_calls('SetSystemProxy', 1)
        second = subprocess.run([DAEMON], env=self.daemon_env(), capture_output=True, text=True, timeout=30)
        self.assertEqual(second.returncode, 255, second.stderr)
        lines = second.stderr.splitlines()
        critical = [i for i, l in enumerate(lines) if 'Register D-Bus service failed:' in l]
        final = [i for i, l in enumerate(lines) if 'Register D-Bus failed, exit' in l]
        self.assertEqual(len(critical), 1, second.stderr)
        self.assertEqual(len(final), 1, second.stderr)
        self.assertLess(critical[0], final[0])
        # The bus's error text, which is none for a name that is merely
        # taken; the owner comes on a line of its own.
        self.assertRegex(lines[critical[0]], r' Register D-Bus service failed: ?$')
        owner = self.session_bus.get_name_owner(SESSION_NAME)
        named = [l for l in lines if re.search(r' Session bus name "%s" is owned by "%s"$'
                                              % (re.escape(SESSION_NAME), re.escape(owner)), l)]
        self.assertEqual(len(named), 1, second.stderr)
        # No session service was built in the refused process: it never reported.
        self.assertEqual(len(self.system_daemon.calls('SetSystemProxy')), 1)
        self.assertTrue(name_has_owner(self.session_bus, SESSION_NAME))


class TerminationTest(DaemonTestCase):
    def test_signals_end_the_loop_with_status_zero(self):
        # A burst of signals, as a supervisor that repeats itself sends, while
        # the main thread waits on a system daemon that never answers: one
        # line all the same, since quit is asked only once.
        for sig, sent in ((signal.SIGTERM, 1), (signal.SIGINT, 1), (signal.SIGTERM, 600)):
            with self.subTest(signal=sig.name, sent=sent):
                daemon = self.start_daemon()
                if sent > 1:
                    peer = FaultPeer(True, SYSTEM_DAEMON_NAME, log_name='hung-system-daemon')
                    self.addCleanup(peer.stop)
                    peer.emit(SYSTEM_DAEMON_PATH, SYSTEM_DAEMON_IFACE, 'sigLocalAppsUpgradeNotify', 'as',
                              ['{"package_name": "a", "name": "A"}'])
                    peer.wait_calls('Get', 1)
                for _ in range(sent):
                    try:
                        os.kill(daemon.pid, sig)
                    except ProcessLookupError:
                        break
                self.assertEqual(daemon.stop(sig), 0, daemon.text())
                self.assertEqual(len(daemon.lines('"SIGNAL %d recv, exit"' % sig)), 1,
                                 '%d lines' % len(daemon.lines('"SIGNAL %d recv, exit"' % sig)))
                wait_until(lambda: not name_has_owner(self.session_bus, SESSION_NAME), message='name released')


class AbortTest(DaemonTestCase):
    '''SIGABRT, sent from outside or raised by abort() inside the process; the
    preloaded library turns SIGUSR1 into a call of abort().'''

    SITE = r'\[(\S+:\d+)\] \[([^]]+)\] "SIGNAL \d+ recv, exit"$'

    def test_abort_line_is_written(self):
        # The call site every termination line names, the abort line included.
        reference = self.start_daemon()
        self.assertEqual(reference.stop(signal.SIGTERM), 0, reference.text())
        site = re.search(self.SITE, reference.lines('SIGNAL 15 recv, exit')[0]).groups()
        # After abort() the event loop never runs again: the handler writes the
        # line to standard error itself, and the log file, which only the
        # toolkit's appender reaches, goes without it.
        cases = [
            ('kill', None, 0, True, True),
            ('abort', None, -signal.SIGABRT, True, False),
            ('abort', '*.debug=false', -signal.SIGABRT, False, False),
        ]
        for how, rules, status, shown, filed in cases:
            with self.subTest(how=how, rules=rules):
                state = tempfile.mkdtemp(dir=TMPDIR, prefix='abort-state-')
                env = self.daemon_env(XDG_STATE_HOME=state, QT_LOGGING_RULES=rules,
                                      LD_PRELOAD=os.environ['ORVANE_ABORT_PRELOAD'])
                daemon = self.start_daemon(env=env)
                sent = signal.SIGABRT if how == 'kill' else signal.SIGUSR1
                self.assertEqual(daemon.stop(sent), status, daemon.text())
                console = daemon.lines('SIGNAL 6 recv, exit')
                with open(os.path.join(state, 'orvane', LOG_NAME)) as f:
                    in_file = [l for l in f.read().splitlines() if 'SIGNAL 6 recv, exit' in l]
                if not shown:
                    self.assertEqual((console, in_file), ([], []))
                    continue
                # The same shape as the line of every other signal.
                pattern = (TIMESTAMP + r'\[Debug\] \[com\.orvane\.app-store\.session-daemon\] '
                           r'\[\S+:\d+\] \[[^]]+\] "SIGNAL 6 recv, exit"$')
                self.assertEqual(len(console), 1, daemon.text())
                self.assertRegex(console[0], pattern)
                self.assertEqual(re.search(self.SITE, console[0]).groups(), site)
                self.assertEqual(len(in_file), 1 if filed else 0, in_file)
                if filed:
                    self.assertRegex(in_file[0], pattern)
                wait_until(lambda: not name_has_owner(self.session_bus, SESSION_NAME), message='name released')


class SessionEndTest(DaemonTestCase):
    def test_program_leaves_when_its_session_bus_goes_away(self):
        # A session bus of its own to kill, so that the harness's stays up.
        bus_daemon, address = self.start_private_bus(system=False)
        daemon = self.start_daemon(env=self.daemon_env(DBUS_SESSION_BUS_ADDRESS=address), wait=False)
        private_bus = dbus.bus.BusConnection(address)
        wait_until(lambda: daemon.proc.poll() is not None or name_has_owner(private_bus, SESSION_NAME), 30,
                   'the program on its bus')
        wait_for_daemon(private_bus)
        private_bus.close()

        bus_daemon.terminate()
        bus_daemon.wait(10)
        status = self.exit_status(daemon)
        self.assertEqual(status, 0, daemon.text())
        warnings = daemon.lines(r'\[Warning\]')
        self.assertEqual(len(warnings), 1, daemon.text())
        self.assertIn('Session bus disconnected, exit', warnings[0])

    def test_program_connects_again_when_its_system_bus_restarts(self):
        '''The system bus daemon restarts on its socket: one warning, and the
        same process reports to the system daemon on the new bus and hears
        it. An update notice held for the notification server while the bus
        was away goes out, and its day is stored once the bus and the system
        daemon are back.'''
        socket_path = os.path.join(TMPDIR, 'restarting-system-bus')
        bus_daemon, address = self.start_private_bus(system=True, path=socket_path)
        store = self.start_system_daemon(address=address)
        # Never answers GetCapabilities: notices are held for 2 s.
        notifications = FaultPeer(False, 'org.freedesktop.Notifications', log_name='hung-notifications')
        self.addCleanup(notifications.stop)
        daemon = self.start_daemon(env=self.daemon_env(DBUS_SYSTEM_BUS_ADDRESS=address,
                                                       NUVIX_OS_RELEASE=self.edition_env(3)))
        store.wait_calls('SetSystemProxy', 1)
        store.emit(SYSTEM_DAEMON_IFACE, 'sigLocalAppsUpgradeNotify', 'as',
                   [dbus.Array([json.dumps({'package_name': 'foo', 'name': 'Foo', 'version': '2'})], signature='s')])
        notifications.wait_calls('GetCapabilities', 1)
        before = time.strftime('%Y%m%d')
        self.assertEqual(notifications.calls('Notify'), [], 'the hold ended before the bus went')
        bus_daemon.terminate()
        bus_daemon.wait(10)
        daemon.wait_log('System bus disconnected: the system daemon and the lock service are out of reach')
        notifications.wait_calls('Notify', 1)

        # The bus comes back before the system daemon does: the day is stored
        # once the system daemon is there to take it.
        self.start_private_bus(system=True, path=socket_path)
        daemon.wait_log(r'System bus connected$')
        store = self.start_system_daemon(address=address)
        stored = store.wait_calls('SetConfigByNodeName', 1)
        self.assertEqual(stored[0][0], 'upgradeNoticeTime')
        self.assertIn(stored[0][1], {before, time.strftime('%Y%m%d')})
        self.assertEqual(store.wait_calls('SetSystemProxy', 1)[0][0], USER)
        store.emit(SYSTEM_DAEMON_IFACE, 'sigSystemNotificationSent', 's',
                   ['{"opt":1,"appName":"Bar","packageName":"bar","logname":"%s"}' % USER])
        notifications.wait_calls('Notify', 2)
        self.assertEqual([c[1] for c in notifications.calls('Notify')],
                         ['App Updates are available', '"Bar" installed successfully'])

        self.assertIsNone(daemon.proc.poll(), daemon.text())
        warnings = daemon.lines(r'\[Warning\]')
        self.assertEqual(len(warnings), 1, daemon.text())
        self.assertIn('System bus disconnected', warnings[0])
        self.assertEqual(len(daemon.lines(r'System bus connected$')), 1, daemon.text())
        self.assertEqual(daemon.stop(), 0, daemon.text())


class JournalTest(DaemonTestCase):
    '''Standard error as the journal: JOURNAL_STREAM names its device and inode.'''

    def test_console_lines_carry_journal_priority(self):
        # No schemas: the program warns about each missing one while it starts.
        empty = tempfile.mkdtemp(dir=TMPDIR, prefix='no-schemas-')
        other = os.path.join(TMPDIR, 'not-stderr')
        open(other, 'w').close()
        for journal in (True, False):
            with self.subTest(journal=journal):
                log_name = 'journal-%s.log' % journal
                log_path = os.path.join(TMPDIR, log_name)
                open(log_path, 'w').close()  # the program's stderr keeps this inode
                st = os.stat(log_path if journal else other)
                # XDG_DATA_DIRS too: schemas installed on the machine would be found there.
                # A file where the log directory should be: the refusal is a warning too.
                env = self.daemon_env(GSETTINGS_SCHEMA_DIR=empty, XDG_DATA_DIRS=empty, XDG_STATE_HOME=other,
                                      JOURNAL_STREAM='%d:%d' % (st.st_dev, st.st_ino))
                daemon = self.start_daemon(env=env, log_name=log_name)
                self.call_instance()
                daemon.wait_log(STARTED)
                self.assertEqual(daemon.stop(), 0, daemon.text())
                warning = daemon.lines('Proxy settings schema is not installed, ignoring it: '
                                       '"com.orvane.wrap.gnome.system.proxy"$')
                started = daemon.lines(STARTED)
                refused = daemon.lines('Cannot open log file')
                self.assertEqual((len(warning), len(started), len(refused)), (1, 1, 1), daemon.text())
                if journal:
                    self.assertRegex(warning[0], r'^<4>\[Warning\] \[com\.orvane\.app-store\.session-daemon\] \[')
                    self.assertRegex(started[0], r'^<7>\[Debug\] ')
                    self.assertRegex(refused[0], r'^<4>Cannot open log file ')
                else:
                    self.assertRegex(warning[0], '^' + TIMESTAMP + r'\[Warning\] ')
                    self.assertRegex(started[0], '^' + TIMESTAMP + r'\[Debug\] ')
                    self.assertRegex(refused[0], r'^Cannot open log file ')


class LogFileTest(DaemonTestCase):
    def test_log_file_place_mode_and_content(self):
        state = os.path.join(TMPDIR, 'state-log')
        daemon = self.start_daemon(env=self.daemon_env(XDG_STATE_HOME=state))
        self.call_instance()
        daemon.wait_log(STARTED)
        directory = os.path.join(state, 'orvane')
        path = os.path.join(directory, 'orvane-appstore-session-daemon.log')
        wait_until(lambda: os.path.exists(path) and STARTED in read(path), message='log file line')
        self.assertEqual(stat.S_IMODE(os.stat(directory).st_mode), 0o700)
        self.assertEqual(stat.S_IMODE(os.stat(path).st_mode), 0o600)
        line = [l for l in read(path).splitlines() if STARTED in l][0]
        # timestamp with milliseconds, level, category, file:line, function, text
        self.assertRegex(line, r'^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[Debug\] '
                               r'\[com\.orvane\.app-store\.session-daemon\] \[\S+dbus_interface\.cpp:\d+\] '
                               r'\[void DBusInterface::Instance\(\)\] ' + STARTED + '$')

    def test_planted_log_paths_are_refused(self):
        victim_text = 'export SECRET=1\n'
        reasons = {
            'symlink': 'a symbolic link is in its place',
            'foreign file': "not a regular file of the user's own",
            'hard link': "not a regular file of the user's own",
            'directory symlink': 'its directory is a symbolic link',
            'foreign directory': 'its directory does not belong to the user',
            'fifo': 'not a regular file',
        }
        for case, reason in reasons.items():
            with self.subTest(case=case):
                state = tempfile.mkdtemp(dir=TMPDIR, prefix='planted-')
                directory = os.path.join(state, 'orvane')
                path = os.path.join(directory, LOG_NAME)
                victim = os.path.join(state, 'bashrc')
                with open(victim, 'w') as f:
                    f.write(victim_text)
                os.mkdir(directory, 0o700)
                if case == 'symlink':
                    os.symlink(victim, path)
                elif case == 'fifo':
                    os.mkfifo(path, 0o600)
                elif case == 'foreign file':
                    open(path, 'w').close()
                    os.chown(path, 65534, 65534)
                elif case == 'hard link':
                    os.link(victim, path)
                elif case == 'directory symlink':
                    os.rmdir(directory)
                    elsewhere = os.path.join(state, 'elsewhere')
                    os.mkdir(elsewhere, 0o700)
                    os.symlink(elsewhere, directory)
                else:
                    os.chown(directory, 65534, 65534)
                daemon = self.start_daemon(env=self.daemon_env(XDG_STATE_HOME=state))
                self.call_instance()
                daemon.wait_log(STARTED)
                self.assertEqual(daemon.stop(), 0, daemon.text())
                refused = daemon.lines('^Cannot open log file ')
                self.assertEqual(len(refused), 1, daemon.text())
                self.assertTrue(refused[0].endswith(': ' + reason), refused[0])
                with open(victim) as f:
                    self.assertEqual(f.read(), victim_text)
                if case == 'fifo':
                    self.assertTrue(stat.S_ISFIFO(os.lstat(path).st_mode))
                if case == 'directory symlink':
                    self.assertEqual(os.listdir(elsewhere), [])
                if case == 'foreign file':
                    self.assertEqual(os.path.getsize(path), 0)

    def test_existing_places_are_made_private(self):
        state = tempfile.mkdtemp(dir=TMPDIR, prefix='loose-')
        directory = os.path.join(state, 'orvane')
        path = os.path.join(directory, LOG_NAME)
        os.mkdir(directory)
        os.chmod(directory, 0o755)
        with open(path, 'w') as f:
            f.write('earlier line\n')
        os.chmod(path, 0o644)
        daemon = self.start_daemon(env=self.daemon_env(XDG_STATE_HOME=state))
        self.call_instance()
        daemon.wait_log(STARTED)
        wait_until(lambda: STARTED in read(path), message='log file line')
        self.assertEqual(stat.S_IMODE(os.stat(directory).st_mode), 0o700)
        self.assertEqual(stat.S_IMODE(os.stat(path).st_mode), 0o600)
        self.assertTrue(read(path).startswith('earlier line\n'))
        self.assertEqual(daemon.lines('Cannot open log file'), [])

    def test_relative_state_home_is_ignored(self):
        work = tempfile.mkdtemp(dir=TMPDIR, prefix='cwd-')
        home = tempfile.mkdtemp(dir=TMPDIR, prefix='home-')
        env = self.daemon_env(XDG_STATE_HOME='relative-state', HOME=home)
        daemon = self.start_daemon(env=env, argv=['env', '-C', work, DAEMON])
        self.call_instance()
        daemon.wait_log(STARTED)
        path = os.path.join(home, '.local', 'state', 'orvane', LOG_NAME)
        wait_until(lambda: os.path.exists(path) and STARTED in read(path), message='log file line')
        self.assertEqual(os.listdir(work), [])

    def test_unset_state_home_means_the_default_place(self):
        # Most desktops leave XDG_STATE_HOME unset: the log goes to
        # ~/.local/state, made private where the program makes it, taken as
        # it is where the desktop made it already.
        for made in (False, True):
            with self.subTest(state_home_made=made):
                home = tempfile.mkdtemp(dir=TMPDIR, prefix='home-')
                state = os.path.join(home, '.local', 'state')
                if made:
                    os.makedirs(state)
                    for place in (os.path.dirname(state), state):
                        os.chmod(place, 0o755)
                daemon = self.start_daemon(env=self.daemon_env(XDG_STATE_HOME=None, HOME=home))
                self.call_instance()
                daemon.wait_log(STARTED)
                directory = os.path.join(state, 'orvane')
                path = os.path.join(directory, LOG_NAME)
                wait_until(lambda: os.path.exists(path) and STARTED in read(path), message='log file line')
                self.assertEqual(daemon.stop(), 0, daemon.text())
                self.assertEqual(daemon.lines('Cannot open log file'), [])
                self.assertEqual(len([l for l in read(path).splitlines() if 'SIGNAL 15 recv, exit' in l]), 1)
                self.assertEqual(stat.S_IMODE(os.stat(directory).st_mode), 0o700)
                self.assertEqual(stat.S_IMODE(os.stat(path).st_mode), 0o600)
                for place in (os.path.join(home, '.local'), state):
                    self.assertEqual(stat.S_IMODE(os.stat(place).st_mode), 0o755 if made else 0o700, place)
                self.assertEqual(os.listdir(home), ['.local'])

    def test_unwritable_log_place_costs_one_line(self):
        blocker = os.path.join(TMPDIR, 'state-file')
        open(blocker, 'w').close()  # a file where the directory should be
        daemon = self.start_daemon(env=self.daemon_env(XDG_STATE_HOME=blocker))
        self.call_instance()
        daemon.wait_log(STARTED)
        self.assertEqual(len(daemon.lines('Cannot open log file')), 1, daemon.text())


class ConsoleTest(DaemonTestCase):
    '''Standard error as a pipe that a log collector reads, or stops reading,
    or as the journal's stream socket (what a systemd unit gives). The log
    file goes on either way.'''

    def start_on_pipe(self, state, kind='pipe'):
        overrides = {}
        if kind == 'pipe':
            reader, writer = os.pipe()
        else:
            ours, theirs = socket.socketpair(socket.AF_UNIX, socket.SOCK_STREAM)
            # A small buffer, full after a few dozen lines.
            theirs.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 4096)
            reader, writer = ours.detach(), theirs.detach()
            st = os.fstat(writer)
            overrides['JOURNAL_STREAM'] = '%d:%d' % (st.st_dev, st.st_ino)
        env = self.daemon_env(XDG_STATE_HOME=state, **overrides)
        proc = subprocess.Popen([DAEMON], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=writer)
        os.close(writer)
        self.addCleanup(lambda: proc.poll() is not None or (proc.kill(), proc.wait()))
        wait_until(lambda: proc.poll() is not None or name_has_owner(self.session_bus, SESSION_NAME), 30,
                   'the program to own its name')
        self.settle()
        return proc, reader

    def file_lines(self, state, pattern):
        with open(os.path.join(state, 'orvane', LOG_NAME), errors='replace') as f:
            return [l for l in f.read().splitlines() if re.search(pattern, l)]

    def instance_calls(self, count, timeout):
        obj = self.session_bus.get_object(SESSION_NAME, '/com/orvane/appstore/daemon')
        for _ in range(count):
            obj.Instance(dbus_interface=SESSION_NAME, timeout=timeout)

    def test_console_whose_reader_has_gone(self):
        self.check_reader_gone('pipe')

    def test_journal_socket_whose_reader_has_gone(self):
        self.check_reader_gone('journal')

    def test_console_nobody_reads(self):
        self.check_nobody_reads('pipe')

    def test_journal_socket_nobody_reads(self):
        lines = self.check_nobody_reads('journal')
        # Each line of the appenders as the journal reads it: a priority, no
        # time. The two lines from before the appenders exist come through
        # Qt's own handler, in its own shape.
        early = 'com.orvane.app-store.session-daemon: '
        self.assertEqual([l for l in lines if not re.match(r'<[0-7]>', l) and not l.startswith(early)], [])
        self.assertLessEqual(len([l for l in lines if l.startswith(early)]), 2)
        dropped = [l for l in lines if 'lines not written to the console' in l]
        self.assertTrue(all(l.startswith('<4>') for l in dropped), dropped)
        self.assertTrue(all(l.startswith('<7>[Debug] ') for l in lines if l.endswith(STARTED)))

    def check_reader_gone(self, kind):
        state = tempfile.mkdtemp(dir=TMPDIR, prefix='gone-reader-')
        proc, reader = self.start_on_pipe(state, kind)
        os.close(reader)
        self.instance_calls(3, WAIT)
        wait_until(lambda: len(self.file_lines(state, STARTED)) == 3, message='three lines in the file')
        self.assertIsNone(proc.poll(), 'the program died of its console')
        proc.send_signal(signal.SIGTERM)
        self.assertEqual(proc.wait(WAIT), 0)
        self.assertEqual(len(self.file_lines(state, 'SIGNAL 15 recv, exit')), 1)

    def check_nobody_reads(self, kind):
        calls = 600  # far beyond what a pipe holds
        state = tempfile.mkdtemp(dir=TMPDIR, prefix='unread-console-')
        proc, reader = self.start_on_pipe(state, kind)
        self.instance_calls(calls, WAIT)
        wait_until(lambda: len(self.file_lines(state, STARTED)) == calls, message='every line in the file')
        # The collector comes back: what was dropped is counted before the
        # next line.
        os.set_blocking(reader, False)
        console = b''
        while True:
            try:
                chunk = os.read(reader, 65536)
            except BlockingIOError:
                break
            console += chunk
        self.instance_calls(1, WAIT)
        proc.send_signal(signal.SIGTERM)
        self.assertEqual(proc.wait(WAIT), 0)
        os.set_blocking(reader, True)
        with os.fdopen(reader, 'rb') as f:
            console += f.read()
        lines = console.decode('utf-8', 'replace').splitlines()
        dropped = [i for i, l in enumerate(lines) if 'lines not written to the console' in l]
        # A full pipe may still take a short line into the room a long one
        # did not fit: each such moment says the count so far.
        self.assertGreaterEqual(len(dropped), 1, lines[-5:])
        count = sum(int(re.search(r'(\d+) lines not written to the console', lines[i]).group(1)) for i in dropped)
        shown = [l for l in lines[:dropped[-1]] if STARTED in l]
        self.assertGreaterEqual(count, calls - len(shown))
        self.assertIn(STARTED, lines[dropped[-1] + 1])
        self.assertTrue(lines[-1].endswith('"SIGNAL 15 recv, exit"'), lines[-3:])
        self.assertEqual(len(self.file_lines(state, 'SIGNAL 15 recv, exit')), 1)
        return lines


class DBusDumpTest(DaemonTestCase):
    '''QDBUS_DEBUG makes Qt dump every message it sends, SetSystemProxy with
    the proxy's credentials among them.'''

    def test_dump_keeps_proxy_credentials_out_of_the_log(self):
        for key, value in (('mode', "'manual'"),):
            self.gsettings('set', 'com.orvane.wrap.gnome.system.proxy', key, value.strip("'"))
        for key, value in (('host', 'proxy.corp'), ('port', '3128'), ('use-authentication', 'true'),
                           ('authentication-user', 'alice'), ('authentication-password', 'Secret1')):
            self.gsettings('set', 'com.orvane.wrap.gnome.system.proxy.http', key, value)
        system_daemon = self.start_system_daemon()
        state = tempfile.mkdtemp(dir=TMPDIR, prefix='dbus-dump-')
        daemon = self.start_daemon(env=self.daemon_env(QDBUS_DEBUG='1', XDG_STATE_HOME=state))
        report = system_daemon.wait_calls('SetSystemProxy', 1)[0]
        self.assertIn('Secret1', report[1])  # the system daemon gets it
        self.assertEqual(daemon.stop(), 0)
        with open(os.path.join(state, 'orvane', LOG_NAME), errors='replace') as f:
            in_file = f.read()
        # Qt did dump its messages, and the proxy report is among them.
        self.assertIn('SetSystemProxy', in_file)
        for text in (in_file, daemon.text()):
            self.assertNotIn('Secret1', text)
            self.assertNotIn('alice', text)


class TranslationTest(DaemonTestCase):
    '''The catalogue lives at a fixed system path, so it is grafted in through
    a private mount namespace.'''

    def notice_summary(self, env, argv_prefix=()):
        system_daemon = self.start_system_daemon()
        notifications = self.start_notification_server()
        env = dict(env, NUVIX_OS_RELEASE=self.edition_env(3))
        argv = list(argv_prefix) + [DAEMON]
        # The graft links every entry of /usr/share first, which takes a while
        # on a loaded machine.
        daemon = self.start_daemon(env=env, argv=argv, wait=False)
        wait_until(lambda: daemon.proc.poll() is not None or name_has_owner(self.session_bus, SESSION_NAME), 60,
                   'the program to own its name')
        self.settle()
        system_daemon.wait_calls('SetSystemProxy', 1)
        user = subprocess.run(['id', '-un'], capture_output=True, text=True).stdout.strip()
        system_daemon.emit(SYSTEM_DAEMON_IFACE, 'sigSystemNotificationSent', 's',
                           ['{"opt": 1, "appName": "Foo", "packageName": "foo", "logname": "%s"}' % user])
        calls = notifications.wait_calls('Notify', 1)
        self.assertEqual(daemon.stop(), 0)
        return calls[0][3]

    @needs('unshare')
    def test_german_catalogue_is_loaded(self):
        graft = [os.path.join(HARNESS_DIR, 'graft'), '/usr/share', 'orvane-home-appstore-client',
                 os.environ['ORVANE_TEST_CLIENT_DIR'], '--']
        summary = self.notice_summary(self.daemon_env(LC_ALL='de_DE.UTF-8', LANG='de_DE.UTF-8'), graft)
        self.assertEqual(summary, '"Foo" erfolgreich installiert')

    def test_missing_catalogue_still_starts_untranslated(self):
        summary = self.notice_summary(self.daemon_env(LC_ALL='de_DE.UTF-8', LANG='de_DE.UTF-8'))
        self.assertEqual(summary, '"Foo" installed successfully')


if __name__ == '__main__':
    unittest.main()
