"""The standalone program's logging set-up, seen from outside: the rules taken
from QT_LOGGING_RULES, the variable's removal from its environment, and the
configuration facility's notices at start."""

import os
import re
import signal
import struct
import subprocess
import tempfile
import unittest

from orvane_testlib import bus, name_has_owner, wait_until

DAEMON = os.environ['ORVANE_DAEMON']
BUS_NAME = 'com.orvane.appstore.daemon'
SESSION = bus(False)
NOT_SUPPORTED = '"NConfig is not supported in current NUVIX version:" 5.4.21'
SIGTERM_LINE = 'SIGNAL 15 recv, exit'


def catches(pid, signum):
    """Whether the process has a handler installed for signum."""
    with open('/proc/%d/status' % pid) as status:
        for line in status:
            if line.startswith('SigCgt:'):
                return bool(int(line.split()[1], 16) & (1 << (signum - 1)))
    return False


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


class Daemon:
    def __init__(self, test, rules=None, extra_env=None):
        env = dict(os.environ)
        env.pop('QT_LOGGING_RULES', None)
        if rules is not None:
            env['QT_LOGGING_RULES'] = rules
        env.update(extra_env or {})
        self._stderr = tempfile.TemporaryFile(dir=os.environ.get('ORVANE_TEST_TMPDIR'))
        self.process = subprocess.Popen([DAEMON], env=env, stdin=subprocess.DEVNULL,
                                        stdout=subprocess.DEVNULL, stderr=self._stderr)
        test.addCleanup(self.close)

    def stderr(self):
        self._stderr.seek(0)
        return self._stderr.read().decode('utf-8', 'replace')

    def wait_ready(self):
        """Until the program owns its bus name and has its SIGTERM handler."""
        def ready():
            if self.process.poll() is not None:
                raise AssertionError('program exited with %d:\n%s' % (self.process.returncode, self.stderr()))
            return name_has_owner(SESSION, BUS_NAME) and catches(self.process.pid, signal.SIGTERM)
        wait_until(ready, 30, 'the program to be ready')

    def terminate(self):
        self.process.send_signal(signal.SIGTERM)
        try:
            return self.process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            raise AssertionError('program did not exit on SIGTERM:\n' + self.stderr())

    def close(self):
        if self._stderr.closed:
            return
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        # The next test's program needs the name free again.
        wait_until(lambda: not name_has_owner(SESSION, BUS_NAME), 10, 'the bus name to be released')
        self._stderr.close()


class ProgramLoggingTest(unittest.TestCase):
    def test_start_reports_configuration_facility_twice(self):
        daemon = Daemon(self)
        daemon.wait_ready()
        self.assertEqual(daemon.terminate(), 0)

        lines = [l for l in daemon.stderr().splitlines() if NOT_SUPPORTED in l]
        self.assertEqual(len(lines), 2, daemon.stderr())
        self.assertIn('bool NConfigWatcher::addNConfig(QString, const QString&, const QString&) ' + NOT_SUPPORTED,
                      lines[0])
        self.assertIn('QVariant NConfigWatcher::getValueSync(QString, const QString&, const QString&, '
                      'const QString&) ' + NOT_SUPPORTED, lines[1])

    def test_rules_variable_is_removed_from_environment(self):
        daemon = Daemon(self, rules='*.debug=true', extra_env={'ORVANE_PROBE': 'kept'})
        daemon.wait_ready()

        environment = live_environment(daemon.process.pid)
        # The probe shows that the environment was read at all.
        self.assertEqual(environment.get('ORVANE_PROBE'), 'kept')
        self.assertNotIn('QT_LOGGING_RULES', environment)
        self.assertEqual(daemon.terminate(), 0)

    def test_rules_decide_on_termination_line(self):
        cases = [
            (None, True),
            ('*.debug=false', False),
            ('*.debug=false;com.orvane.app-store.session-daemon.debug=true', True),
        ]
        for rules, shown in cases:
            with self.subTest(rules=rules):
                daemon = Daemon(self, rules=rules)
                daemon.wait_ready()
                # Status 0: the handler ran, so a missing line is the rules' doing.
                self.assertEqual(daemon.terminate(), 0, daemon.stderr())
                lines = [l for l in daemon.stderr().splitlines() if SIGTERM_LINE in l]
                if shown:
                    self.assertEqual(len(lines), 1, daemon.stderr())
                    self.assertRegex(lines[0], r'\[Debug\] \[com\.orvane\.app-store\.session-daemon\] ')
                else:
                    self.assertEqual(lines, [], daemon.stderr())
                daemon.close()


if __name__ == '__main__':
    unittest.main()
