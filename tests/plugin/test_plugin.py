# SPDX-FileCopyrightText: 2026 Orvane
# SPDX-License-Identifier: GPL-3.0-or-later

'''The daemon as a plugin of a session service manager, loaded into
appstore-plugin-host: what the library exports, where it puts its object,
a refused start, stop and a second start in one process, and that it then
behaves as the program does.'''
import json
import os
import re
import subprocess
import unittest
import xml.etree.ElementTree as ET

import dbus
import dbus.bus

from orvane_testlib import (Fake, PluginHostTestCase, needs, SESSION_NAME, SYSTEM_DAEMON_IFACE, SYSTEM_DAEMON_NAME,
                            SYSTEM_DAEMON_PATH, HARNESS_DIR, PLUGIN, TEMPLATES, TMPDIR, name_has_owner, wait_until)

OBJECT_PATH = '/com/orvane/appstore/daemon'
STARTED = 'Orvane Appstore Session Daemon started'
NOT_SUPPORTED = 'NConfig is not supported'
USER = subprocess.run(['id', '-un'], capture_output=True, text=True, check=True).stdout.strip()
PROXY = 'com.orvane.wrap.gnome.system.proxy'
WPAD = 'http://wpad.example/wpad.dat'
AUTO_ENVIRONMENT = dict.fromkeys(['SOCKS_SERVER', 'all_proxy', 'auto_proxy', 'ftp_proxy', 'http_proxy',
                                  'https_proxy', 'no_proxy'], '')
INSTALLED = ('{"opt":1,"appName":"Foo","packageName":"foo","logname":"%s"}' % USER)


def graft_catalogue():
    return [os.path.join(HARNESS_DIR, 'graft'), '/usr/share', 'orvane-home-appstore-client',
            os.environ['ORVANE_TEST_CLIENT_DIR'], '--']


class ExportTableTest(unittest.TestCase):
    def test_only_the_two_entry_functions(self):
        out = subprocess.run(['nm', '-D', '--defined-only', PLUGIN], capture_output=True, text=True, check=True).stdout
        symbols = sorted(tuple(line.split()[-2:]) for line in out.splitlines() if line.strip())
        # Unmangled names: C linkage. Anything else would be the core library leaking.
        self.assertEqual(symbols, [('T', 'NSMRegister'), ('T', 'NSMUnRegister')], out)
        out = subprocess.run(['readelf', '--dyn-syms', '-W', PLUGIN], capture_output=True, text=True,
                             check=True).stdout
        defined = [l.split() for l in out.splitlines() if re.match(r'\s*\d+:', l) and ' UND ' not in l]
        self.assertEqual(sorted((d[3], d[4], d[5], d[7]) for d in defined),
                         [('FUNC', 'GLOBAL', 'DEFAULT', 'NSMRegister'),
                          ('FUNC', 'GLOBAL', 'DEFAULT', 'NSMUnRegister')], out)


class PluginTestCase(PluginHostTestCase):
    def setUp(self):
        super().setUp()
        self.system_daemon = self.start_system_daemon()

    def reports(self):
        return self.system_daemon.calls('SetSystemProxy')

    def interfaces(self, owner):
        '''Interface names, with their members, of the object at OBJECT_PATH on
        the connection owner; none when nothing is exported there.'''
        obj = self.session_bus.get_object(owner, OBJECT_PATH, introspect=False)
        try:
            xml = obj.Introspect(dbus_interface='org.freedesktop.DBus.Introspectable')
        except dbus.exceptions.DBusException as e:
            if e.get_dbus_name() != 'org.freedesktop.DBus.Error.UnknownObject':
                raise
            return {}
        return {i.get('name'): [m.get('name') for m in i] for i in ET.fromstring(xml).findall('interface')}


class ConnectionTest(PluginTestCase):
    def test_named_connection_exports_object_and_requests_no_name(self):
        host = self.start_host()
        self.assertEqual(host.register('appstore-test'), 0)
        self.system_daemon.wait_calls('SetSystemProxy', 1)
        status = host.status()
        self.assertTrue(status['exported'])
        unique = status['connection']
        self.assertEqual(self.connection_pid(unique), host.pid)
        self.assertFalse(name_has_owner(self.session_bus, SESSION_NAME))
        self.assertEqual(self.interfaces(unique).get(SESSION_NAME), ['Instance'])

        self.session_bus.get_object(unique, OBJECT_PATH, introspect=False).Instance(dbus_interface=SESSION_NAME)
        host.wait_log(STARTED)
        self.assertEqual(host.stop(), 0, host.text())

    def test_host_signal_dispositions_stay_as_they_were(self):
        def dispositions(pid):
            with open('/proc/%d/status' % pid) as f:
                return {l.split(':')[0]: l.split()[1] for l in f if l.startswith(('SigIgn:', 'SigCgt:'))}
        host = self.start_host()
        host.status()
        before = dispositions(host.pid)
        self.assertEqual(host.register('appstore-test'), 0)
        self.system_daemon.wait_calls('SetSystemProxy', 1)
        self.session_bus.get_object(host.status()['connection'], OBJECT_PATH,
                                    introspect=False).Instance(dbus_interface=SESSION_NAME)
        host.wait_log(STARTED)
        self.assertEqual(dispositions(host.pid), before)
        self.assertEqual(host.unregister(), 0)
        self.assertEqual(dispositions(host.pid), before)
        self.assertEqual(host.stop(), 0, host.text())

    def test_null_empty_or_blank_name_claims_the_well_known_name(self):
        for argument in (None, '""', '" "'):
            with self.subTest(name=argument):
                host = self.start_host()
                self.assertFalse(name_has_owner(self.session_bus, SESSION_NAME))
                self.assertEqual(host.register(argument), 0)
                status = host.status()
                self.assertTrue(status['exported'])
                owner = self.session_bus.get_name_owner(SESSION_NAME)
                self.assertEqual(owner, status['connection'])
                self.assertEqual(self.connection_pid(owner), host.pid)
                self.call_instance()
                host.wait_log(STARTED)
                self.assertEqual(host.stop(), 0, host.text())
                wait_until(lambda: not name_has_owner(self.session_bus, SESSION_NAME), message='name released')

    def test_taken_path_refuses_and_builds_nothing(self):
        host = self.start_host(options=['--occupy', 'busy'])
        self.assertEqual(host.register('busy'), 0)
        lines = host.lines()
        failed_object = [i for i, l in enumerate(lines) if 'Register D-Bus object failed:' in l]
        failed = [i for i, l in enumerate(lines) if re.search(r'Register D-Bus failed$', l)]
        self.assertEqual(len(failed_object), 1, host.text())
        self.assertEqual(len(failed), 1, host.text())
        self.assertLess(failed_object[0], failed[0])
        # The occupant keeps the path; the plugin's object is nowhere.
        busy = host.status()['connection']
        self.assertNotIn(SESSION_NAME, self.interfaces(busy))
        self.assertFalse(name_has_owner(self.session_bus, SESSION_NAME))
        # The host opened that connection; a refused start leaves it to the host.
        self.assertEqual(host.command('connected busy'), ['connected yes'])

        # Positive control: a start now builds the service, which reports the
        # settings of this moment, once. A service left by the refused start
        # would have reported the earlier settings before, on the same
        # connection, and would be handed out again instead of a new one.
        self.gsettings('set', PROXY, 'autoconfig-url', WPAD)
        self.gsettings('set', PROXY, 'mode', 'auto')
        self.assertEqual(host.register('free'), 0)
        self.system_daemon.wait_calls('SetSystemProxy', 1)
        self.assertTrue(host.status()['exported'])
        self.assertEqual([(user, json.loads(text)) for user, text in self.reports()],
                         [(USER, dict(AUTO_ENVIRONMENT, auto_proxy=WPAD))])
        self.assertEqual(len(host.lines('System Proxy:')), 1, host.text())
        self.assertEqual(host.stop(), 0, host.text())

    def test_lost_system_bus_warns_and_comes_back_in_the_host(self):
        '''The host's system bus daemon restarts on its socket: one warning,
        the host and its session bus keep running (the plugin never ends its
        host), and the plugin reports to the system daemon on the new bus and
        hears it. After the stop no connection to that bus is left open.'''
        socket_path = os.path.join(TMPDIR, 'restarting-host-system-bus')
        bus_daemon, address = self.start_private_bus(system=True, path=socket_path)
        host = self.start_host(env=self.daemon_env(DBUS_SYSTEM_BUS_ADDRESS=address,
                                                   NUVIX_OS_RELEASE=self.edition_env(3)))
        self.assertEqual(host.register('lost'), 0)
        host.wait_log('System Proxy:')
        bus_daemon.terminate()
        bus_daemon.wait(10)
        host.wait_log('System bus disconnected: the system daemon and the lock service are out of reach')
        self.assertTrue(host.status()['exported'])
        self.assertIsNone(host.proc.poll())

        bus_daemon, _ = self.start_private_bus(system=True, path=socket_path)
        store = self.start_system_daemon(address=address)
        self.assertEqual(store.wait_calls('SetSystemProxy', 1)[0][0], USER)
        notifications = self.start_notification_server()
        store.emit(SYSTEM_DAEMON_IFACE, 'sigSystemNotificationSent', 's', [INSTALLED])
        self.assertEqual(notifications.wait_calls('Notify', 1)[0][3], '"Foo" installed successfully')
        self.assertEqual(len(host.lines(r'System bus disconnected')), 1, host.text())
        self.assertEqual(len(host.lines(r'System bus connected$')), 1, host.text())

        self.assertEqual(host.unregister(), 0)
        private_bus = dbus.bus.BusConnection(address)
        driver = dbus.Interface(private_bus.get_object('org.freedesktop.DBus', '/org/freedesktop/DBus'),
                                'org.freedesktop.DBus')

        def host_connections():
            found = []
            for name in driver.ListNames():
                try:
                    if name.startswith(':') and driver.GetConnectionUnixProcessID(name) == host.pid:
                        found.append(name)
                except dbus.exceptions.DBusException:
                    pass  # gone meanwhile
            return found
        wait_until(lambda: not host_connections(), message='the plugin\'s system bus connection closed')
        private_bus.close()
        self.assertEqual(host.stop(), 0, host.text())


@needs('unshare')
class LifecycleTest(PluginTestCase):
    '''With the German test catalogue, so that the translator's presence in
    the host's application shows in the host's status.'''

    def setUp(self):
        super().setUp()
        self.notifications = self.start_notification_server()
        self.host = self.start_host(
            env=self.daemon_env(LC_ALL='de_DE.UTF-8', LANG='de_DE.UTF-8', NUVIX_OS_RELEASE=self.edition_env(3)),
            prefix=graft_catalogue())
        # The graft links every entry of /usr/share first, which takes more
        # than a command's usual wait on a loaded machine.
        self.host.command('fds', timeout=60)

    def notify_installed(self, count):
        self.system_daemon.emit(SYSTEM_DAEMON_IFACE, 'sigSystemNotificationSent', 's', [INSTALLED])
        return self.notifications.wait_calls('Notify', count)

    def test_unregister_without_register_does_nothing(self):
        before = self.host.status()  # the host runs, and the graft has had its say
        self.assertEqual((before['exported'], before['View']), (False, 'View'))
        log = self.host.text()
        self.assertEqual(self.host.unregister(), 0)
        self.assertEqual(self.host.unregister(), 0)
        self.assertEqual(self.host.status(), before)
        self.assertEqual(self.host.text(), log)
        # The plugin is still in its first state: a start works.
        self.assertEqual(self.host.register(), 0)
        self.system_daemon.wait_calls('SetSystemProxy', 1)
        self.assertEqual(self.host.status()['View'], 'Anzeigen')
        self.assertEqual(self.host.stop(), 0, self.host.text())

    def test_stop_releases_and_second_start_builds_a_fresh_service(self):
        self.assertEqual(self.host.status()['View'], 'View')
        self.assertEqual(self.host.register('first'), 0)
        self.system_daemon.wait_calls('SetSystemProxy', 1)
        first = self.host.status()
        self.assertEqual((first['exported'], first['View']), (True, 'Anzeigen'))
        self.assertEqual(self.notify_installed(1)[0][3], '"Foo" erfolgreich installiert')

        self.assertEqual(self.host.unregister(), 0)
        # The reply to the next command comes from a later pass of the loop.
        stopped = self.host.status()
        self.assertEqual((stopped['exported'], stopped['View']), (False, 'View'))
        # The connection the plugin opened for it is closed with it.
        wait_until(lambda: not name_has_owner(self.session_bus, first['connection']),
                   message='the plugin\'s connection closed')
        log = self.host.text()
        self.assertEqual(self.host.unregister(), 0)
        self.assertEqual(self.host.status(), stopped)
        self.assertEqual(self.host.text(), log, 'a second stop did something')

        # Second start, on the default connection this time.
        self.assertEqual(self.host.register(), 0)
        self.system_daemon.wait_calls('SetSystemProxy', 2)
        second = self.host.status()
        self.assertEqual((second['exported'], second['View']), (True, 'Anzeigen'))
        self.notify_installed(2)
        # The notices go out on the default connection before the answer to
        # this call, so a notice of the stopped service would be counted.
        self.settle()
        self.assertEqual(len(self.notifications.calls('Notify')), 2)
        self.assertEqual(len(self.reports()), 2)
        self.assertEqual(self.host.stop(), 0, self.host.text())

    def test_restart_within_one_pass(self):
        self.assertEqual(self.host.register('same'), 0)
        self.system_daemon.wait_calls('SetSystemProxy', 1)
        self.assertEqual(self.host.command('restart same'), ['NSMUnRegister 0 NSMRegister 0'])
        self.system_daemon.wait_calls('SetSystemProxy', 2)
        self.assertEqual(self.host.lines('Register D-Bus'), [])
        status = self.host.status()
        self.assertEqual((status['exported'], status['View']), (True, 'Anzeigen'))
        self.assertEqual(len(self.notify_installed(1)), 1)
        self.assertEqual(self.host.unregister(), 0)
        self.assertEqual(self.host.status()['exported'], False)
        self.assertEqual(self.host.stop(), 0, self.host.text())

    def test_second_register_while_running_is_ignored(self):
        self.assertEqual(self.host.register(), 0)
        self.system_daemon.wait_calls('SetSystemProxy', 1)
        self.assertEqual(self.host.register(), 0)
        self.assertEqual(len(self.host.lines('Already registered')), 1, self.host.text())
        # The running start keeps its translator, and a stop still removes its object.
        self.assertEqual(self.host.status()['View'], 'Anzeigen')
        self.settle()
        self.assertEqual(len(self.reports()), 1)
        self.assertEqual(self.host.unregister(), 0)
        self.assertEqual(self.host.status()['exported'], False)
        self.assertEqual(self.host.stop(), 0, self.host.text())


def host_value(host, command):
    '''The reply of a one-line host command, without its leading word.'''
    reply = host.command(command)[0]
    return reply.split(' ', 1)[1] if ' ' in reply else ''


def host_env(host, name):
    '''The host's value of an environment variable; None when unset.'''
    reply = host_value(host, 'getenv ' + name)
    return reply[len('set '):] if reply == 'set' or reply.startswith('set ') else None


class StoppedPluginTest(PluginTestCase):
    '''Between NSMUnRegister and the next NSMRegister nothing of the daemon
    acts in the host: no settings object, no connection, no callback.'''

    def watch_proxy_settings(self, host):
        for schema in (PROXY, PROXY + '.http'):
            self.assertEqual(host.command('watch ' + schema), ['watch yes'])

    def settings_changed(self, host, *changes):
        '''Makes the changes and returns once the host's own settings objects
        have seen all of them: the plugin's would have seen them by then too.'''
        seen = int(host_value(host, 'changes'))
        for schema, key, value in changes:
            self.gsettings('set', schema, key, value)
        wait_until(lambda: int(host_value(host, 'changes')) >= seen + len(changes), message='host saw the changes')

    def stop(self, host):
        self.assertEqual(host.unregister(), 0)
        # Answered in a later pass of the loop, after the deferred deletions.
        self.assertFalse(host.status()['exported'])

    def test_stop_gives_the_host_its_environment_back_until_next_start(self):
        # The host's own proxy variables, one of them set but empty.
        own = {'http_proxy': 'http://host.example:8000', 'no_proxy': 'host.example', 'ftp_proxy': '',
               'https_proxy': None, 'SOCKS_SERVER': None, 'all_proxy': None, 'auto_proxy': None}
        host = self.start_host(env=self.daemon_env(**own))
        self.watch_proxy_settings(host)
        self.settings_changed(host, (PROXY + '.http', 'host', 'proxy.example'), (PROXY + '.http', 'port', '3128'),
                              (PROXY, 'mode', 'manual'))
        self.assertEqual(host.register('stopped'), 0)
        first = self.system_daemon.wait_calls('SetSystemProxy', 1)
        self.assertEqual(json.loads(first[0][1])['http_proxy'], 'http://proxy.example:3128')
        self.assertEqual(host_env(host, 'http_proxy'), 'http://proxy.example:3128')
        self.assertEqual(host_env(host, 'ftp_proxy'), None)
        self.stop(host)
        for name, value in own.items():
            self.assertEqual(host_env(host, name), value, name)

        # A manual protocol's key and one of the monitor's own keys: the
        # stopped plugin writes neither.
        self.settings_changed(host, (PROXY + '.http', 'port', '8080'), (PROXY, 'ignore-hosts', "['intra.example']"))
        for name, value in own.items():
            self.assertEqual(host_env(host, name), value, name)

        # A new start catches up as a first start does, with one report; the
        # report goes out on the connection a stale one would have used, so
        # anything sent while stopped would be recorded before it.
        self.assertEqual(host.register('stopped'), 0)
        self.assertEqual(host_env(host, 'http_proxy'), 'http://proxy.example:8080')
        self.assertEqual(host_env(host, 'no_proxy'), 'intra.example')
        calls = self.system_daemon.wait_calls('SetSystemProxy', 2)
        self.assertEqual(calls[0], first[0])
        self.assertEqual(json.loads(calls[1][1]), dict(AUTO_ENVIRONMENT, http_proxy='http://proxy.example:8080',
                                                       no_proxy='intra.example'))
        self.settle_host(host)
        self.assertEqual(len(self.reports()), 2, self.reports())
        # And follows the settings again.
        self.settings_changed(host, (PROXY + '.http', 'port', '8081'))
        self.assertEqual(host_env(host, 'http_proxy'), 'http://proxy.example:8081')
        self.system_daemon.wait_calls('SetSystemProxy', 3)
        # The second stop, too, gives back what the host had.
        self.stop(host)
        for name, value in own.items():
            self.assertEqual(host_env(host, name), value, name)
        self.assertEqual(host.stop(), 0, host.text())

    def settle_host(self, host):
        # One round trip to the plugin's object: the report of the start and
        # anything queued behind it have been handled.
        self.session_bus.get_object(host.status()['connection'], OBJECT_PATH, introspect=False).Introspect(
            dbus_interface='org.freedesktop.DBus.Introspectable')

    def test_unload_survives_settings_changes(self):
        # Stopped first, nothing of the daemon is left to call; unloaded while
        # running (a careless host), the library must stay mapped under the
        # callbacks GLib and Qt still hold, and the daemon goes on.
        for stopped, expected in ((True, None), (False, 'http://proxy.example:3128')):
            with self.subTest(stopped=stopped):
                self.gsettings('reset-recursively', PROXY)
                self.gsettings('reset-recursively', PROXY + '.http')
                self.system_daemon.clear()
                host = self.start_host()
                self.watch_proxy_settings(host)
                self.assertEqual(host.register('unload'), 0)
                self.system_daemon.wait_calls('SetSystemProxy', 1)
                if stopped:
                    self.stop(host)
                self.assertEqual(host.command('unload'), ['unloaded yes'])
                self.settings_changed(host, (PROXY, 'mode', 'manual'), (PROXY + '.http', 'host', 'proxy.example'),
                                      (PROXY + '.http', 'port', '3128'))
                self.assertEqual(host_env(host, 'http_proxy'), expected)
                self.assertEqual(host.command('register'), ['unloaded register'])
                self.assertEqual(host.stop(), 0, host.text())

    def test_cycles_close_the_connections_the_plugin_opened(self):
        host = self.start_host()
        baseline = None
        uniques = []
        # 25 names, each used twice: a closed name must open afresh.
        for cycle in range(50):
            self.assertEqual(host.register('cycle-%d' % (cycle % 25)), 0)
            self.system_daemon.wait_calls('SetSystemProxy', cycle + 1)
            uniques.append(host.status()['connection'])
            self.assertTrue(uniques[-1])
            self.stop(host)
            if cycle == 0:
                # Counted with the first connection perhaps not yet closed.
                baseline = int(host_value(host, 'fds'))
        counts = []

        def flat():
            counts.append(int(host_value(host, 'fds')))
            return counts[-1] <= baseline
        try:
            wait_until(flat, message='descriptors back to their count after one cycle')
        except AssertionError:
            self.fail('%d descriptors after one cycle, %d after 50' % (baseline, counts[-1]))
        self.assertEqual(len(set(uniques)), 50)
        self.assertEqual([u for u in uniques if name_has_owner(self.session_bus, u)], [])
        self.assertEqual(host.stop(), 0, host.text())

    def test_connection_the_host_opened_stays_open(self):
        host = self.start_host()
        unique = host_value(host, 'open shared')
        self.assertTrue(unique)
        for cycle in (1, 2):
            self.assertEqual(host.register('shared'), 0)
            self.system_daemon.wait_calls('SetSystemProxy', cycle)
            self.assertEqual(host.status()['connection'], unique)
            self.stop(host)
            self.assertEqual(host.command('connected shared'), ['connected yes'])
            self.assertTrue(name_has_owner(self.session_bus, unique))
        self.assertEqual(host.stop(), 0, host.text())


class SameAsProgramTest(PluginTestCase):
    '''Once started, program and plugin are the same daemon; only their starts differ.'''

    def run_installed_notice(self, start):
        notifications = self.start_notification_server()
        self.system_daemon.clear()
        runner = start(self.daemon_env(NUVIX_OS_RELEASE=self.edition_env(3)))
        self.system_daemon.wait_calls('SetSystemProxy', 1)
        self.system_daemon.emit(SYSTEM_DAEMON_IFACE, 'sigSystemNotificationSent', 's', [INSTALLED])
        calls = notifications.wait_calls('Notify', 1)
        self.assertEqual(runner.stop(), 0, runner.text())
        self.stop_fake(notifications)
        return calls, runner.text()

    def start_plugin(self, env):
        host = self.start_host(env=env)
        self.assertEqual(host.register('parity'), 0)
        return host

    def test_notice_and_start_messages(self):
        program_calls, program_log = self.run_installed_notice(lambda env: self.start_daemon(env=env))
        plugin_calls, plugin_log = self.run_installed_notice(self.start_plugin)
        self.assertEqual(len(program_calls), 1)
        self.assertEqual(len(program_calls[0]), 8)
        self.assertEqual(program_calls[0][3], '"Foo" installed successfully')
        self.assertEqual(plugin_calls, program_calls)
        self.assertEqual(program_log.count(NOT_SUPPORTED), 2, program_log)
        self.assertEqual(plugin_log.count(NOT_SUPPORTED), 0, plugin_log)

    def test_held_notices_go_out_at_unregister(self):
        '''A stop while notices wait for a server that never says what it reads:
        they go out, names without markup characters, and the day is stored
        with the update notice.'''
        notifications = Fake(['--template', os.path.join(TEMPLATES, 'notification_server.py'), '-p',
                              json.dumps({'capabilities': 'body body-markup', 'hang': ['GetCapabilities']})],
                             'org.freedesktop.Notifications', '/org/freedesktop/Notifications', False,
                             'notification-fake.log')
        self._fakes.append(notifications)
        host = self.start_plugin(self.daemon_env(NUVIX_OS_RELEASE=self.edition_env(3)))
        self.system_daemon.wait_calls('SetSystemProxy', 1)
        store = dbus.Interface(self.system_bus.get_object(SYSTEM_DAEMON_NAME, SYSTEM_DAEMON_PATH),
                               SYSTEM_DAEMON_IFACE)
        store.SetConfigByNodeName('upgradeNoticeTime', '19990101')
        self.system_daemon.clear()
        self.system_daemon.emit(SYSTEM_DAEMON_IFACE, 'sigSystemNotificationSent', 's', [INSTALLED])
        self.system_daemon.emit(SYSTEM_DAEMON_IFACE, 'sigLocalAppsUpgradeNotify', 'as',
                                [dbus.Array([json.dumps({'package_name': 'b', 'name': '<b>B</b>'})],
                                            signature='s')])
        host.wait_log(r' "Last notify date: 19990101, current date: \d{8}"$')
        notifications.wait_calls('GetCapabilities', 1)
        self.assertEqual(self.system_daemon.calls('SetConfigByNodeName'), [])
        self.assertEqual(host.unregister(), 0)
        calls = notifications.wait_calls('Notify', 2)
        self.assertEqual([c[3] for c in calls], ['"Foo" installed successfully', 'App Updates are available'])
        self.assertEqual(calls[1][4], '1 app: \uff1cb\uff1eB\uff1c/b\uff1e')
        stored = self.system_daemon.wait_calls('SetConfigByNodeName', 1)
        self.assertEqual([node for node, _ in stored], ['upgradeNoticeTime'])
        self.assertEqual(host.stop(), 0, host.text())


if __name__ == '__main__':
    unittest.main()
