# SPDX-FileCopyrightText: 2026 Orvane
# SPDX-License-Identifier: GPL-3.0-or-later

'''The daemon as a session starts it: D-Bus activation through the generated
service file, the user unit and the autostart entry as systemd reads them, and
what an install puts where.'''
import os
import re
import shutil
import signal
import subprocess
import tempfile
import unittest

import dbus.bus

from orvane_testlib import DAEMON, SESSION_NAME, TMPDIR, wait_until, name_has_owner

SESSION_FILES = os.environ['ORVANE_BUILD_SESSION_DIR']
SERVICE_DIR = os.path.join(SESSION_FILES, 'dbus-1', 'services')
UNIT = os.path.join(SESSION_FILES, 'systemd', 'user', 'orvane-appstore-session-daemon.service')
AUTOSTART = os.path.join(SESSION_FILES, 'autostart', 'orvane-appstore-session-daemon.desktop')
STARTED = 'Orvane Appstore Session Daemon started'
LOG = os.path.join(os.environ['XDG_STATE_HOME'], 'orvane', 'orvane-appstore-session-daemon.log')

BUS_CONFIG = '''<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir={dir}</listen>
  <servicedir>{services}</servicedir>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
'''


def entries(path):
    '''{key: value} of the main group of a desktop entry or unit-like file.'''
    values = {}
    with open(path) as f:
        for line in f:
            m = re.match(r'^([A-Za-z0-9-]+)=(.*)$', line.rstrip('\n'))
            if m:
                values.setdefault(m.group(1), m.group(2))
    return values


class ActivationTest(unittest.TestCase):
    '''A session bus whose service directory holds the generated service file.'''

    def setUp(self):
        self.dir = tempfile.mkdtemp(dir=TMPDIR, prefix='activation-')
        config = os.path.join(self.dir, 'bus.conf')
        with open(config, 'w') as f:
            f.write(BUS_CONFIG.format(dir=self.dir, services=SERVICE_DIR))
        self.bus_log = open(os.path.join(self.dir, 'bus.log'), 'wb')
        read, write = os.pipe()
        self.bus_proc = subprocess.Popen(['dbus-daemon', '--config-file=' + config, '--nofork',
                                          '--print-address=%d' % write],
                                         pass_fds=[write], stderr=self.bus_log)
        os.close(write)
        with os.fdopen(read) as r:
            self.address = r.readline().strip()
        self.assertTrue(self.address, 'no address from dbus-daemon')
        self.bus = dbus.bus.BusConnection(self.address)
        self.daemon_pid = None

    def tearDown(self):
        if self.daemon_pid:
            try:
                os.kill(self.daemon_pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        self.bus.close()
        self.bus_proc.terminate()
        self.bus_proc.wait(10)
        self.bus_log.close()

    def call_instance(self):
        env = dict(os.environ, DBUS_SESSION_BUS_ADDRESS=self.address)
        return subprocess.run(['gdbus', 'call', '--session', '--dest', SESSION_NAME,
                               '--object-path', '/com/orvane/appstore/daemon',
                               '--method', SESSION_NAME + '.Instance', '--timeout', '60'],
                              env=env, capture_output=True, text=True, timeout=90)

    def owner_pid(self):
        return int(self.bus.get_object('org.freedesktop.DBus', '/org/freedesktop/DBus').GetConnectionUnixProcessID(
            SESSION_NAME, dbus_interface='org.freedesktop.DBus'))

    def started_lines(self):
        if not os.path.exists(LOG):
            return 0
        with open(LOG, errors='replace') as f:
            return sum(STARTED in line for line in f)

    def test_instance_call_starts_the_daemon_once(self):
        self.assertFalse(name_has_owner(self.bus, SESSION_NAME))

        result = self.call_instance()
        self.assertEqual((result.returncode, result.stdout.strip()), (0, '()'), result.stderr)
        self.assertTrue(name_has_owner(self.bus, SESSION_NAME))
        self.daemon_pid = self.owner_pid()
        self.assertEqual(os.path.realpath('/proc/%d/exe' % self.daemon_pid), os.path.realpath(DAEMON))
        wait_until(lambda: self.started_lines() == 1, 30, 'the first Instance call in the log')

        # Running: the second call reaches the same process.
        result = self.call_instance()
        self.assertEqual((result.returncode, result.stdout.strip()), (0, '()'), result.stderr)
        self.assertEqual(self.owner_pid(), self.daemon_pid)
        wait_until(lambda: self.started_lines() == 2, 30, 'the second Instance call in the log')

        os.kill(self.daemon_pid, signal.SIGTERM)
        wait_until(lambda: not name_has_owner(self.bus, SESSION_NAME), 30, 'the name released')


class SystemdTest(unittest.TestCase):
    '''The generated unit and autostart entry, read by systemd's own tools.
    Both name the built program, so that the paths they check exist.'''

    @unittest.skipUnless(shutil.which('systemd-analyze'), 'systemd-analyze is not installed')
    def test_unit_passes_verify(self):
        result = subprocess.run(['systemd-analyze', 'verify', '--user', '--man=no', UNIT],
                                capture_output=True, text=True, timeout=60)
        self.assertEqual((result.returncode, result.stdout + result.stderr), (0, ''))
        unit = entries(UNIT)
        self.assertEqual(unit['ExecStart'], DAEMON)
        self.assertEqual(unit['BusName'], SESSION_NAME)
        self.assertEqual(unit['RestartPreventExitStatus'], '255')

    def test_service_file_hands_over_to_the_unit(self):
        service = entries(os.path.join(SERVICE_DIR, SESSION_NAME + '.service'))
        self.assertEqual(service['Name'], SESSION_NAME)
        self.assertEqual(service['Exec'], DAEMON)
        self.assertEqual(service['SystemdService'], os.path.basename(UNIT))

    GENERATOR = '/usr/lib/systemd/user-generators/systemd-xdg-autostart-generator'

    def generated_units(self, entry_text):
        '''The units systemd's autostart generator makes of one entry.'''
        config = tempfile.mkdtemp(dir=TMPDIR, prefix='xdg-config-')
        os.makedirs(os.path.join(config, 'autostart'))
        with open(os.path.join(config, 'autostart', os.path.basename(AUTOSTART)), 'w') as f:
            f.write(entry_text)
        out = tempfile.mkdtemp(dir=TMPDIR, prefix='generated-')
        dirs = [os.path.join(out, d) for d in ('normal', 'early', 'late')]
        for d in dirs:
            os.makedirs(d)
        env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(config, 'none'), XDG_CONFIG_DIRS=config,
                   SYSTEMD_LOG_LEVEL='debug')
        result = subprocess.run([self.GENERATOR] + dirs, env=env, capture_output=True, text=True, timeout=60)
        self.assertEqual(result.returncode, 0, result.stderr)
        return sorted(n for d in dirs for n in os.listdir(d) if n.endswith('.service')), result.stderr

    @unittest.skipUnless(os.path.exists(GENERATOR), 'systemd-xdg-autostart-generator is not installed')
    def test_autostart_entry_is_left_to_the_unit_under_systemd(self):
        with open(AUTOSTART) as f:
            text = f.read()
        self.assertEqual(entries(AUTOSTART)['Exec'], DAEMON)
        units, log = self.generated_units(text)
        self.assertEqual(units, [], log)
        # Control: without the skip key the same entry would start a second copy.
        units, log = self.generated_units(re.sub(r'(?m)^X-systemd-skip=.*\n', '', text))
        self.assertEqual(len(units), 1, log)


class InstallTreeTest(unittest.TestCase):
    '''cmake --install of this build into a staging directory.'''

    @classmethod
    def setUpClass(cls):
        cls.stage = tempfile.mkdtemp(dir=TMPDIR, prefix='stage-')
        result = subprocess.run([os.environ['ORVANE_CMAKE'], '--install', os.environ['ORVANE_BUILD_DIR']],
                                env=dict(os.environ, DESTDIR=cls.stage), capture_output=True, text=True,
                                timeout=120)
        if result.returncode != 0:
            raise AssertionError(result.stdout + result.stderr)
        cls.files = sorted(os.path.relpath(os.path.join(root, name), cls.stage)
                           for root, _, names in os.walk(cls.stage) for name in names)

    def installed(self, pattern):
        return [f for f in self.files if re.search(pattern, f)]

    def test_layout(self):
        program = self.installed(r'/orvane-appstore-session-daemon$')
        self.assertEqual(len(program), 1, self.files)
        self.assertRegex(program[0], r'/libexec/')
        self.assertEqual(len(self.installed(r'/orvane-session-manager/plugins/appstore-session-plugin\.so$')), 1,
                         self.files)
        # The toolkit's library name belongs to the desktop.
        self.assertEqual(self.installed(r'nuvixcore'), [])
        for f in (r'dbus-1/services/com\.orvane\.appstore\.daemon\.service$',
                  r'systemd/user/orvane-appstore-session-daemon\.service$',
                  r'xdg/autostart/orvane-appstore-session-daemon\.desktop$',
                  r'man8/orvane-appstore-session-daemon\.8$'):
            self.assertEqual(len(self.installed(f)), 1, (f, self.files))

    def test_start_files_name_the_installed_program(self):
        program = '/' + self.installed(r'/orvane-appstore-session-daemon$')[0]
        for pattern, key in ((r'dbus-1/services/.*\.service$', 'Exec'), (r'systemd/user/.*\.service$', 'ExecStart'),
                             (r'xdg/autostart/.*\.desktop$', 'Exec')):
            path = os.path.join(self.stage, self.installed(pattern)[0])
            self.assertEqual(entries(path)[key], program, path)
        with open(os.path.join(self.stage, self.installed(r'man8/')[0])) as f:
            self.assertIn(program, f.read())

    def test_binaries_need_no_toolkit_library(self):
        for path in (self.installed(r'/orvane-appstore-session-daemon$')[0], self.installed(r'plugin\.so$')[0]):
            needed = subprocess.run(['readelf', '-d', os.path.join(self.stage, path)],
                                    capture_output=True, text=True, check=True).stdout
            self.assertNotIn('libnuvixcore', needed, path)


if __name__ == '__main__':
    unittest.main()
