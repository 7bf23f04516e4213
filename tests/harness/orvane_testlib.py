# SPDX-FileCopyrightText: 2026 Orvane
# SPDX-License-Identifier: GPL-3.0-or-later

'''Test library for end-to-end tests of the session daemon.

Every test module runs under run-with-buses, so both buses, the settings
backend and the XDG directories are private. This module starts the real
program (or the plugin host) and python-dbusmock fakes of its peers as
separate processes, and waits on bus state or log lines with a deadline,
never with a fixed sleep.
'''
import json
import os
import re
import signal
import subprocess
import sys
import time
import unittest

import dbus
import dbus.bus

HARNESS_DIR = os.path.dirname(os.path.abspath(__file__))
TEMPLATES = os.path.join(HARNESS_DIR, 'templates')
DAEMON = os.environ.get('ORVANE_DAEMON', '')
PLUGIN = os.environ.get('ORVANE_PLUGIN', '')
PLUGIN_HOST = os.environ.get('ORVANE_PLUGIN_HOST', '')
TMPDIR = os.environ.get('ORVANE_TEST_TMPDIR', '/tmp')
# A sanitized daemon keeps freed memory in quarantine and scans for leaks at
# exit: memory figures and exit times then say nothing about the daemon.
SANITIZED = os.environ.get('ORVANE_SANITIZED') == '1'
# How long a test waits for something the program must do: an assert of
# behaviour, not of speed, so generous enough for a sanitized build on a busy
# 2-core machine (the benchmark prints how fast things are). A test that tells
# a bounded wait from an unbounded one says which bound it stays below.
WAIT = 30.0
SESSION_NAME = 'com.orvane.appstore.daemon'
SYSTEM_DAEMON_NAME = 'com.home.appstore.daemon'
SYSTEM_DAEMON_PATH = '/appstore'
SYSTEM_DAEMON_IFACE = 'com.home.appstore.daemon.interface'
LOCK_NAME = 'com.orvane.kesh.LockService'
LOCK_PATH = '/com/orvane/kesh/LockService'
LOCK_IFACE = 'com.orvane.kesh.LockService'
MOCK_IFACE = 'org.freedesktop.DBus.Mock'
NO_PROXY_TEXT = ('{"SOCKS_SERVER":"","all_proxy":"","auto_proxy":"","ftp_proxy":"",'
                 '"http_proxy":"","https_proxy":"","no_proxy":""}')


def _missing(need):
    if need == 'root':
        return None if os.geteuid() == 0 else 'needs root (creates users, changes uids)'
    if need == 'unshare':
        try:
            probe = subprocess.run(['unshare', '-m', '--propagation', 'private', 'true'],
                                   capture_output=True, timeout=30)
        except (OSError, subprocess.TimeoutExpired) as e:
            return 'needs a private mount namespace (unshare -m): %s' % e
        if probe.returncode != 0:
            return 'needs a private mount namespace (unshare -m, as root): %s' % (
                probe.stderr.decode(errors='replace').strip() or 'status %d' % probe.returncode)
        return None
    raise ValueError('unknown need %r' % need)


_missing_cache = {}


def needs(*what):
    '''Decorator for a test or a test class that cannot run everywhere, for
    instance in a package build as an ordinary user: skips it, saying why,
    unless the process is 'root' and can make an 'unshare' mount namespace.'''
    for need in what:
        if need not in _missing_cache:
            _missing_cache[need] = _missing(need)
        if _missing_cache[need]:
            return unittest.skip(_missing_cache[need])
    return lambda item: item


def wait_until(predicate, timeout=WAIT, message='condition'):
    '''Polls predicate until it returns a true value; returns that value.'''
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError('timed out waiting for ' + message)
        time.sleep(0.02)


def bus(system):
    address = os.environ['DBUS_SYSTEM_BUS_ADDRESS' if system else 'DBUS_SESSION_BUS_ADDRESS']
    return dbus.bus.BusConnection(address)


def name_has_owner(connection, name):
    return bool(connection.name_has_owner(name))


def wait_for_daemon(session, timeout=30.0):
    '''Returns once the daemon's event loop has answered a call on its object,
    so everything queued before the call has been handled. Has no side effect
    in the daemon (no log line).'''
    obj = session.get_object(SESSION_NAME, '/com/orvane/appstore/daemon', introspect=False)

    def answered():
        try:
            obj.GetAll(SESSION_NAME, dbus_interface='org.freedesktop.DBus.Properties', timeout=30)
            return True
        except dbus.exceptions.DBusException as e:
            # The name is taken a moment before the object is exported.
            if e.get_dbus_name() != 'org.freedesktop.DBus.Error.UnknownObject':
                raise
            return False
    wait_until(answered, timeout, 'the daemon object to answer')


class Fake:
    '''A python-dbusmock process standing in for one bus peer.'''

    def __init__(self, args, name, path, system, log_name, address=None):
        self.name = name
        self.path = path
        # On a bus of the test's own (address), which may go away under it.
        self.private = address is not None
        self.bus = dbus.bus.BusConnection(address) if self.private else bus(system)
        env = dict(os.environ)
        if self.private:
            env['DBUS_SYSTEM_BUS_ADDRESS' if system else 'DBUS_SESSION_BUS_ADDRESS'] = address
        self.log_path = os.path.join(TMPDIR, log_name)
        self.log = open(self.log_path, 'ab')
        self.proc = subprocess.Popen([sys.executable, '-m', 'dbusmock'] + args, env=env,
                                     stdout=self.log, stderr=subprocess.STDOUT)
        try:
            wait_until(lambda: self.proc.poll() is not None or name_has_owner(self.bus, name),
                       message=name + ' on the bus')
        except AssertionError:
            self.stop()
            raise
        if self.proc.poll() is not None:
            raise AssertionError('fake %s died:\n%s' % (name, open(self.log_path).read()))
        self.mock = dbus.Interface(self.bus.get_object(name, path), MOCK_IFACE)

    def calls(self, method):
        '''The argument lists of every recorded call of method, oldest first.'''
        return [[self._plain(a) for a in call[2]] for call in self.mock.GetCalls() if call[1] == method]

    def wait_calls(self, method, count, timeout=WAIT):
        return wait_until(lambda: len(self.calls(method)) >= count and self.calls(method),
                          timeout, '%d %s call(s) at %s' % (count, method, self.name))

    def clear(self):
        self.mock.ClearCalls()

    def emit(self, interface, name, signature, args):
        self.mock.EmitSignal(interface, name, signature, args)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.log.close()
        try:
            wait_until(lambda: not name_has_owner(self.bus, self.name), message=self.name + ' gone')
        except dbus.exceptions.DBusException:
            if not self.private:
                raise
            # Its bus went first, and the name with it.

    @staticmethod
    def _plain(value):
        if isinstance(value, dbus.Array):
            return [Fake._plain(v) for v in value]
        if isinstance(value, dbus.Dictionary):
            return {str(k): Fake._plain(v) for k, v in value.items()}
        if isinstance(value, (dbus.String, dbus.ObjectPath)):
            return str(value)
        if isinstance(value, dbus.Boolean):
            return bool(value)
        if isinstance(value, (dbus.Int32, dbus.UInt32, dbus.Int64, dbus.UInt64, dbus.Byte, dbus.Int16, dbus.UInt16)):
            return int(value)
        return value


class Daemon:
    '''The real program (or the plugin host) as a child process.'''

    def __init__(self, argv, env, log_name, stdin=None, stdout=None, preexec=None):
        '''stdout None joins stderr in the log file.'''
        self.log_path = os.path.join(TMPDIR, log_name)
        self.log = open(self.log_path, 'wb')
        self.proc = subprocess.Popen(argv, env=env, stdout=self.log if stdout is None else stdout,
                                     stderr=self.log, stdin=stdin, preexec_fn=preexec)

    @property
    def pid(self):
        return self.proc.pid

    def text(self):
        with open(self.log_path, 'r', errors='replace') as f:
            return f.read()

    def lines(self, pattern=None):
        lines = self.text().splitlines()
        return [l for l in lines if pattern is None or re.search(pattern, l)]

    def wait_log(self, pattern, count=1, timeout=WAIT):
        return wait_until(lambda: len(self.lines(pattern)) >= count,
                          timeout, '%d log line(s) matching %r; log so far:\n%s' % (count, pattern, self.text()))

    def stop(self, sig=signal.SIGTERM, timeout=WAIT):
        if self.proc.poll() is None:
            self.proc.send_signal(sig)
            try:
                self.proc.wait(timeout)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
                raise AssertionError('daemon ignored signal %d; log:\n%s' % (sig, self.text()))
        self.log.close()
        return self.proc.returncode


class DaemonTestCase(unittest.TestCase):
    '''Starts peers and daemons on demand and stops all of them after each test.'''

    def setUp(self):
        self._fakes = []
        self._daemons = []
        self.session_bus = bus(False)
        self.system_bus = bus(True)
        self.assertFalse(name_has_owner(self.session_bus, SESSION_NAME), 'a daemon is left over')
        # Each test starts from the schemas' defaults.
        keyfile = os.path.join(os.environ['XDG_CONFIG_HOME'], 'glib-2.0', 'settings', 'keyfile')
        if os.path.exists(keyfile):
            os.remove(keyfile)

    def tearDown(self):
        failed = hasattr(self, '_outcome') and any(e for _, e in getattr(self._outcome, 'errors', []) if e)
        for d in self._daemons:
            if d.proc.poll() is None:
                d.proc.kill()
                d.proc.wait()
            if failed or os.environ.get('ORVANE_TEST_VERBOSE'):
                sys.stderr.write('--- daemon log %s ---\n%s\n' % (d.log_path, d.text()))
        problems = []
        for f in self._fakes:
            try:
                f.stop()
            except Exception as e:  # stop the others regardless, or they leak into the next test
                problems.append(e)
        self._fakes = []
        if problems:
            raise problems[0]
        wait_until(lambda: not name_has_owner(self.session_bus, SESSION_NAME), message='daemon name released')

    # peers ---------------------------------------------------------------
    def start_system_daemon(self, address=None, **parameters):
        '''The fake system daemon, on the harness's system bus or on the one at address.'''
        fake = Fake(['--template', os.path.join(TEMPLATES, 'appstore_daemon.py'), '-p', json.dumps(parameters)],
                    SYSTEM_DAEMON_NAME, SYSTEM_DAEMON_PATH, True, 'appstore-daemon-fake.log', address)
        self._fakes.append(fake)
        return fake

    def start_lock_service(self, **parameters):
        fake = Fake(['--template', os.path.join(TEMPLATES, 'lock_service.py'), '-p', json.dumps(parameters)],
                    LOCK_NAME, LOCK_PATH, True, 'lock-service-fake.log')
        self._fakes.append(fake)
        return fake

    def start_notification_server(self):
        fake = Fake(['--template', 'notification_daemon'], 'org.freedesktop.Notifications',
                    '/org/freedesktop/Notifications', False, 'notification-fake.log')
        self._fakes.append(fake)
        return fake

    def stop_fake(self, fake):
        fake.stop()
        self._fakes.remove(fake)

    # the daemon ----------------------------------------------------------
    def daemon_env(self, **overrides):
        env = dict(os.environ)
        for key, value in overrides.items():
            if value is None:
                env.pop(key, None)
            else:
                env[key] = value
        return env

    def start_daemon(self, env=None, wait=True, argv=None, preexec=None, log_name=None, timeout=None,
                     stdin=None, stdout=None):
        '''Starts the program (argv, default the daemon); with wait, returns once
        it owns its name and its loop answers, each within timeout (default
        10 s for the name, 30 s for the loop). stdin and stdout as for Popen;
        stdout None goes to the log with stderr.'''
        daemon = Daemon(argv or [DAEMON], env or self.daemon_env(),
                        log_name or 'daemon-%d.log' % len(self._daemons), stdin=stdin, stdout=stdout,
                        preexec=preexec)
        self._daemons.append(daemon)
        if wait:
            wait_until(lambda: daemon.proc.poll() is not None or name_has_owner(self.session_bus, SESSION_NAME),
                       timeout or 10.0, 'daemon to own its name')
            if daemon.proc.poll() is not None:
                raise AssertionError('daemon exited with %s:\n%s' % (daemon.proc.returncode, daemon.text()))
            # The name is owned before the event loop runs (and before the
            # signal handlers exist): wait until the loop answers.
            self.settle(timeout or 30.0)
        return daemon

    def start_private_bus(self, system, path=None):
        '''A bus daemon of the test's own, to stop as a restart of the real one
        would; returns it and its address. A system bus takes the harness's
        policy, with a socket directory of its own, or the socket path when
        given: a bus started again on it has the same address.'''
        argv = ['dbus-daemon', '--session']
        if system:
            bus_dir = os.path.join(TMPDIR, 'private-system-bus')
            os.makedirs(bus_dir, exist_ok=True)
            config = os.path.join(bus_dir, 'system.conf')
            with open(os.path.join(TMPDIR, 'system.conf')) as src, open(config, 'w') as dst:
                text = src.read().replace(os.path.join(TMPDIR, 'system'), bus_dir)
                if path:
                    text = re.sub(r'<listen>[^<]*</listen>', '<listen>unix:path=%s</listen>' % path, text)
                dst.write(text)
            argv = ['dbus-daemon', '--config-file=' + config]
        bus_daemon = subprocess.Popen(argv + ['--nofork', '--print-address=1'], stdout=subprocess.PIPE,
                                      stderr=subprocess.DEVNULL)
        def stop():
            if bus_daemon.poll() is None:
                bus_daemon.kill()
                bus_daemon.wait()
            bus_daemon.stdout.close()
        self.addCleanup(stop)
        address = bus_daemon.stdout.readline().decode().strip()
        self.assertTrue(address, 'no address from dbus-daemon')
        # Without the bus's guid, which a bus started again does not share.
        return bus_daemon, 'unix:path=' + path if path else address

    def exit_status(self, daemon):
        '''Waits for daemon to end by itself; its exit status.'''
        return wait_until(lambda: daemon.proc.poll() is not None and (daemon.proc.returncode,), WAIT,
                          'the program to leave; log:\n' + daemon.text())[0]

    def settle(self, timeout=30.0):
        wait_for_daemon(self.session_bus, timeout)

    def edition_env(self, edition=3):
        path = os.path.join(TMPDIR, 'os-release-%d' % edition)
        with open(path, 'w') as f:
            f.write('NAME="Orvane"\nNUVIX_EDITION_TYPE=%d\n' % edition)
        return path

    # settings ------------------------------------------------------------
    def gsettings(self, *args):
        return subprocess.run(['gsettings'] + list(args), check=True, capture_output=True, text=True).stdout.strip()

    def call_instance(self):
        obj = self.session_bus.get_object(SESSION_NAME, '/com/orvane/appstore/daemon')
        return obj.Instance(dbus_interface=SESSION_NAME)


import queue  # noqa: E402 (helpers for the plugin host, below)
import threading  # noqa: E402


class UnknownUser:
    '''Mixin for a test class whose daemon runs as a user the C library does
    not know. The buses must know the user (dbus-daemon refuses uids without a
    passwd entry), so a real user is created for the class; the daemon then
    runs under that uid in a mount namespace whose /etc/passwd lacks it.
    Each class names its own USER and UID, so that groups never collide.'''
    USER = ''
    UID = 0

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        subprocess.run(['userdel', cls.USER], capture_output=True)
        subprocess.run(['useradd', '-M', '-u', str(cls.UID), '-s', '/usr/sbin/nologin', cls.USER], check=True)
        cls.passwd = os.path.join(TMPDIR, 'passwd-without-' + cls.USER)
        with open('/etc/passwd') as src, open(cls.passwd, 'w') as dst:
            dst.writelines(l for l in src if not l.startswith(cls.USER + ':'))
        cls.home = os.path.join(TMPDIR, 'home-' + cls.USER)
        for sub in ('state', 'runtime'):
            os.makedirs(os.path.join(cls.home, sub), exist_ok=True)
        os.chmod(os.path.join(cls.home, 'runtime'), 0o700)
        for root, dirs, files in os.walk(cls.home):
            os.chown(root, cls.UID, cls.UID)

    @classmethod
    def tearDownClass(cls):
        subprocess.run(['userdel', cls.USER], capture_output=True)
        super().tearDownClass()

    def unknown_user_launch(self):
        '''The argv and environment that start the daemon as that user.'''
        argv = ['unshare', '-m', '--propagation', 'private', 'sh', '-c',
                'mount --bind "$1" /etc/passwd && shift && exec setpriv --reuid=%d --regid=%d --clear-groups "$@"'
                % (self.UID, self.UID), 'sh', self.passwd, DAEMON]
        env = self.daemon_env(HOME=self.home, XDG_STATE_HOME=os.path.join(self.home, 'state'),
                              XDG_RUNTIME_DIR=os.path.join(self.home, 'runtime'))
        return argv, env


class PluginHost(Daemon):
    '''The plugin inside appstore-plugin-host, driven line by line on its stdin.
    Replies come on its stdout; the plugin's log (stderr) goes to the log file.'''

    def __init__(self, argv, env, log_name):
        super().__init__(argv, env, log_name, stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.replies = queue.Queue()
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()

    def _read(self):
        for raw in self.proc.stdout:
            self.replies.put(raw.decode('utf-8', 'replace').rstrip('\n'))
        self.replies.put(None)

    def command(self, line, replies=1, timeout=WAIT):
        '''Sends one command and returns its reply lines.'''
        try:
            self.proc.stdin.write(line.encode() + b'\n')
            self.proc.stdin.flush()
        except BrokenPipeError:
            raise AssertionError('host gone (status %s) before %r; log:\n%s' % (self.proc.wait(), line, self.text()))
        answer = []
        deadline = time.monotonic() + timeout
        while len(answer) < replies:
            try:
                reply = self.replies.get(timeout=max(0.0, deadline - time.monotonic()))
            except queue.Empty:
                raise AssertionError('no reply to %r; log:\n%s' % (line, self.text()))
            if reply is None:
                raise AssertionError('host ended (status %s) while answering %r; log:\n%s'
                                     % (self.proc.wait(), line, self.text()))
            answer.append(reply)
        return answer

    def register(self, connection=None):
        '''NSMRegister's result; connection None passes a null name.'''
        reply = self.command('register' if connection is None else 'register ' + connection)[0]
        assert reply.startswith('NSMRegister '), reply
        return int(reply.split()[1])

    def unregister(self):
        reply = self.command('unregister')[0]
        assert reply.startswith('NSMUnRegister '), reply
        return int(reply.split()[1])

    def status(self):
        '''{'exported': bool, 'View': translation, 'connection': unique name} of
        the connection named at the last registration.'''
        lines = self.command('status', replies=3)
        words = dict(l.split(' ', 1) for l in lines)
        return {'exported': words['exported'] == 'yes', 'View': words['View'], 'connection': words['connection']}

    def stop(self, sig=None, timeout=WAIT):
        '''Leaves through "quit", which unregisters first; returns the exit status.'''
        if self.proc.poll() is None:
            try:
                self.proc.stdin.write(b'quit\n')
                self.proc.stdin.close()
            except BrokenPipeError:
                pass
            try:
                self.proc.wait(timeout)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
                raise AssertionError('host did not quit; log:\n%s' % self.text())
        self._reader.join(timeout)
        self.proc.stdout.close()
        self.log.close()
        return self.proc.returncode


class PluginHostTestCase(DaemonTestCase):
    '''DaemonTestCase that can also run the plugin in its host.'''

    def start_host(self, env=None, options=(), prefix=(), log_name=None):
        host = PluginHost(list(prefix) + [PLUGIN_HOST] + list(options) + [PLUGIN], env or self.daemon_env(),
                          log_name or 'host-%d.log' % len(self._daemons))
        self._daemons.append(host)
        return host

    def connection_pid(self, unique_name):
        return int(self.session_bus.get_object('org.freedesktop.DBus', '/org/freedesktop/DBus').GetConnectionUnixProcessID(
            unique_name, dbus_interface='org.freedesktop.DBus'))


# fault tests -------------------------------------------------------------
FAULT_PEER = os.environ.get('ORVANE_FAULT_PEER', '')
NOTIFY_NAME = 'org.freedesktop.Notifications'


class FaultPeer:
    '''A fault-peer process holding a connection (and a name, when given) on
    one bus: it reads what is sent to it and answers nothing, unless told to
    answer Notify. Emits signals and releases its name on command.'''

    def __init__(self, system, name=None, answer_notify=False, log_name='fault-peer', address=None):
        self.name = name
        # On a bus of the test's own (address), which may go away under it.
        self.private = address is not None
        self.bus = dbus.bus.BusConnection(address) if self.private else bus(system)
        env = dict(os.environ)
        if self.private:
            env['DBUS_SYSTEM_BUS_ADDRESS' if system else 'DBUS_SESSION_BUS_ADDRESS'] = address
        self.record_path = os.path.join(TMPDIR, '%s-%d.calls' % (log_name, time.monotonic_ns()))
        open(self.record_path, 'w').close()
        argv = [FAULT_PEER, 'hold', '--system' if system else '--session', '--record', self.record_path]
        if name:
            argv += ['--name', name]
        if answer_notify:
            argv.append('--answer-notify')
        self.stderr = open(os.path.join(TMPDIR, log_name + '.log'), 'ab')
        self.proc = subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=self.stderr, env=env)
        first = self.proc.stdout.readline().decode().split()
        if len(first) != 2 or first[0] != 'ready':
            self.proc.wait()
            raise AssertionError('fault-peer did not start (%s)' % self.proc.returncode)
        self.unique_name = first[1]

    def command(self, *fields):
        self.proc.stdin.write(('\t'.join(str(f) for f in fields) + '\n').encode())
        self.proc.stdin.flush()
        answer = self.proc.stdout.readline().decode().strip()
        if answer != 'ok':
            raise AssertionError('fault-peer refused %r: %r' % (fields, answer))

    def emit(self, path, interface, member, signature, args, destination=None):
        '''signature "s" takes one text, "as" a list of texts, "i" a number.'''
        values = list(args) if signature == 'as' else [args]
        self.command('emit', destination or '-', path, interface, member, signature, *values)

    def release(self):
        self.command('release')
        wait_until(lambda: not name_has_owner(self.bus, self.name), message=self.name + ' released')
        self.name = None

    def calls(self, member=None):
        '''Method calls received, oldest first: [member] or, for Notify, [member, summary].'''
        with open(self.record_path) as f:
            rows = [line.rstrip('\n').split('\t') for line in f]
        return [r for r in rows if member is None or r[0] == member]

    def wait_calls(self, member, count=1, timeout=WAIT):
        return wait_until(lambda: len(self.calls(member)) >= count and self.calls(member), timeout,
                          '%d %s call(s) at fault-peer' % (count, member))

    def stop(self):
        if self.proc.poll() is None:
            self.proc.stdin.close()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.proc.stdout.close()
        self.stderr.close()
        if self.name:
            try:
                wait_until(lambda: not name_has_owner(self.bus, self.name), message=self.name + ' gone')
            except dbus.exceptions.DBusException:
                if not self.private:
                    raise
                # Its bus went first, and the name with it.


def rss_kib(pid):
    '''Resident set size of a process, from /proc.'''
    with open('/proc/%d/status' % pid) as f:
        for line in f:
            if line.startswith('VmRSS:'):
                return int(line.split()[1])
    raise AssertionError('no VmRSS for %d' % pid)


def unique_name_of(connection, pid):
    '''The unique name of the connection that process pid holds on a bus.'''
    driver = connection.get_object('org.freedesktop.DBus', '/org/freedesktop/DBus')
    for name in driver.ListNames(dbus_interface='org.freedesktop.DBus'):
        if not name.startswith(':'):
            continue
        try:
            if int(driver.GetConnectionUnixProcessID(name, dbus_interface='org.freedesktop.DBus')) == pid:
                return str(name)
        except dbus.exceptions.DBusException:
            continue
    return None


def answers_within(connection, timeout):
    '''Seconds the daemon's event loop took to answer a call, or None when it
    did not answer within timeout.'''
    obj = connection.get_object(SESSION_NAME, '/com/orvane/appstore/daemon', introspect=False)
    start = time.monotonic()
    try:
        obj.GetAll(SESSION_NAME, dbus_interface='org.freedesktop.DBus.Properties', timeout=timeout)
    except dbus.exceptions.DBusException as e:
        if e.get_dbus_name() == 'org.freedesktop.DBus.Error.NoReply':
            return None
        raise
    return time.monotonic() - start
