# SPDX-FileCopyrightText: 2026 Orvane
# SPDX-License-Identifier: GPL-3.0-or-later

"""The standalone program's logging set-up, seen from outside: the rules taken
from QT_LOGGING_RULES, the variable's removal from its environment, and the
configuration facility's notices at start."""

import os
import re
import signal
import struct
import subprocess
import unittest

from orvane_testlib import DaemonTestCase, SESSION_NAME, name_has_owner, wait_until

NOT_SUPPORTED = '"NConfig is not supported in current NUVIX version:" 5.4.21'
SIGTERM_LINE = 'SIGNAL 15 recv, exit'


def _environ_address(pid):
    """Address of the C library's `environ` pointer in the process. The
    program itself holds it when it was linked with a copy relocation."""
    maps = []
    with open('/proc/%d/maps' % pid) as f:
        for line in f:
            fields = line.split()
            if len(fields) >= 6 and fields[5].startswith('/'):
                maps.append((int(fields[0].split('-')[0], 16), int(fields[2], 16), fields[5]))
    exe = os.path.realpath('/proc/%d/exe' % pid)
    libc = next(p for _, _, p in maps if re.search(r'/libc(\.so\.6|-[\d.]+\.so)$', p))
    for path in (exe, libc):
        symbols = subprocess.run(['nm', '-D', '--defined-only', path],
                                 capture_output=True, text=True).stdout
        for line in symbols.splitlines():
            fields = line.split()
            if len(fields) == 3 and fields[2].split('@')[0] in ('environ', '__environ'):
                value = int(fields[0], 16)
                with open(path, 'rb') as elf:
                    elf.seek(16)
                    shared = struct.unpack('<H', elf.read(2))[0] == 3  # ET_DYN: relative to its base
                base = min(start for start, offset, p in maps if p == path and offset == 0)
                return base + value if shared else value
    raise AssertionError('no environ symbol found')


def live_environment(pid):
    """The process's environment as it is now. /proc/PID/environ shows only
    the block the process was started with; unsetenv() does not touch it."""
    entries = []
    with open('/proc/%d/mem' % pid, 'rb', buffering=0) as mem:
        def word(address):
            mem.seek(address)
            return struct.unpack('<Q', mem.read(8))[0]

        def string(address):
            data = b''
            while b'\0' not in data:
                mem.seek(address + len(data))
                data += mem.read(64)
            return data.split(b'\0', 1)[0].decode('utf-8', 'replace')

        array = word(_environ_address(pid))
        for i in range(100000):
            entry = word(array + 8 * i)
            if entry == 0:
                break
            entries.append(string(entry))
    return dict(e.split('=', 1) for e in entries if '=' in e)


class ProgramLoggingTest(DaemonTestCase):
    def start(self, rules=None, **extra_env):
        """The program with QT_LOGGING_RULES set to rules (unset for None),
        once it owns its name and its loop (so its SIGTERM handler) runs.
        Its stderr goes to the log."""
        return self.start_daemon(env=self.daemon_env(QT_LOGGING_RULES=rules, **extra_env), timeout=30,
                                 stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)

    def terminate(self, daemon):
        status = daemon.stop(signal.SIGTERM, timeout=30)
        # The next program needs the name free again.
        wait_until(lambda: not name_has_owner(self.session_bus, SESSION_NAME), 10, 'the bus name to be released')
        return status

    def test_start_reports_configuration_facility_twice(self):
        daemon = self.start()
        self.assertEqual(self.terminate(daemon), 0)

        lines = [l for l in daemon.text().splitlines() if NOT_SUPPORTED in l]
        self.assertEqual(len(lines), 2, daemon.text())
        self.assertIn('bool NConfigWatcher::addNConfig(QString, const QString&, const QString&) ' + NOT_SUPPORTED,
                      lines[0])
        self.assertIn('QVariant NConfigWatcher::getValueSync(QString, const QString&, const QString&, '
                      'const QString&) ' + NOT_SUPPORTED, lines[1])

    def test_rules_variable_is_removed_from_environment(self):
        daemon = self.start('*.debug=true', ORVANE_PROBE='kept')

        environment = live_environment(daemon.pid)
        # The probe shows that the environment was read at all.
        self.assertEqual(environment.get('ORVANE_PROBE'), 'kept')
        self.assertNotIn('QT_LOGGING_RULES', environment)
        self.assertEqual(self.terminate(daemon), 0)

    def test_rules_decide_on_termination_line(self):
        cases = [
            (None, True),
            ('*.debug=false', False),
            ('*.debug=false;com.orvane.app-store.session-daemon.debug=true', True),
        ]
        for rules, shown in cases:
            with self.subTest(rules=rules):
                daemon = self.start(rules)
                # Status 0: the handler ran, so a missing line is the rules' doing.
                self.assertEqual(self.terminate(daemon), 0, daemon.text())
                lines = [l for l in daemon.text().splitlines() if SIGTERM_LINE in l]
                if shown:
                    self.assertEqual(len(lines), 1, daemon.text())
                    self.assertRegex(lines[0], r'\[Debug\] \[com\.orvane\.app-store\.session-daemon\] ')
                else:
                    self.assertEqual(lines, [], daemon.text())


if __name__ == '__main__':
    unittest.main()
