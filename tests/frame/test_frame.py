'''The program's frame seen from outside: its bus name and object, a second
instance, termination signals, translation loading and the log file.'''
import os
import signal
import stat
import subprocess
import unittest
import xml.etree.ElementTree as ET

from orvane_testlib import (DaemonTestCase, SESSION_NAME, SYSTEM_DAEMON_IFACE, TMPDIR, DAEMON, needs,
                            HARNESS_DIR, wait_until, name_has_owner)

STARTED = 'Orvane Appstore Session Daemon started'


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
        self.assertRegex(lines[critical[0]], r'Register D-Bus service failed: \S')
        # No session service was built in the refused process: it never reported.
        self.assertEqual(len(self.system_daemon.calls('SetSystemProxy')), 1)
        self.assertTrue(name_has_owner(self.session_bus, SESSION_NAME))


class TerminationTest(DaemonTestCase):
    def test_signals_end_the_loop_with_status_zero(self):
        for sig in (signal.SIGTERM, signal.SIGINT):
            with self.subTest(signal=sig.name):
                daemon = self.start_daemon()
                self.assertEqual(daemon.stop(sig), 0, daemon.text())
                self.assertEqual(len(daemon.lines('"SIGNAL %d recv, exit"' % sig)), 1, daemon.text())
                wait_until(lambda: not name_has_owner(self.session_bus, SESSION_NAME), message='name released')


class LogFileTest(DaemonTestCase):
    def test_log_file_place_mode_and_content(self):
        state = os.path.join(TMPDIR, 'state-log')
        daemon = self.start_daemon(env=self.daemon_env(XDG_STATE_HOME=state))
        self.call_instance()
        daemon.wait_log(STARTED)
        directory = os.path.join(state, 'orvane')
        path = os.path.join(directory, 'orvane-appstore-session-daemon.log')
        wait_until(lambda: os.path.exists(path) and STARTED in open(path).read(), message='log file line')
        self.assertEqual(stat.S_IMODE(os.stat(directory).st_mode), 0o700)
        self.assertEqual(stat.S_IMODE(os.stat(path).st_mode), 0o600)
        line = [l for l in open(path).read().splitlines() if STARTED in l][0]
        # timestamp with milliseconds, level, category, file:line, function, text
        self.assertRegex(line, r'^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[Debug\] '
                               r'\[com\.orvane\.app-store\.session-daemon\] \[\S+dbus_interface\.cpp:\d+\] '
                               r'\[void DBusInterface::Instance\(\)\] ' + STARTED + '$')

    def test_unwritable_log_place_costs_one_line(self):
        blocker = os.path.join(TMPDIR, 'state-file')
        open(blocker, 'w').close()  # a file where the directory should be
        daemon = self.start_daemon(env=self.daemon_env(XDG_STATE_HOME=blocker))
        self.call_instance()
        daemon.wait_log(STARTED)
        self.assertEqual(len(daemon.lines('Cannot open log file')), 1, daemon.text())


class TranslationTest(DaemonTestCase):
    '''The catalogue lives at a fixed system path, so it is grafted in through
    a private mount namespace.'''

    def notice_summary(self, env, argv_prefix=()):
        system_daemon = self.start_system_daemon()
        notifications = self.start_notification_server()
        env = dict(env, NUVIX_OS_RELEASE=self.edition_env(3))
        argv = list(argv_prefix) + [DAEMON]
        daemon = self.start_daemon(env=env, argv=argv)
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
