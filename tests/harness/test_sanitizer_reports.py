# SPDX-FileCopyrightText: 2026 Orvane
# SPDX-License-Identifier: GPL-3.0-or-later

'''In a sanitized build, a sanitizer report of any process a test started
fails that test, also when the test never looks at the process: the harness
collects the reports itself. Runs the harness inside the harness.'''
import os
import subprocess
import unittest

HARNESS = os.path.join(os.environ['ORVANE_HARNESS_DIR'], 'run-with-buses')
PLANT = os.environ['ORVANE_UB_PLANT']


class SanitizerReportTest(unittest.TestCase):
    # (what the test does, its shell command, whether the harness fails it)
    ROWS = [
        ('ignores a background process with undefined behaviour',
         '"$PLANT" 1 >/dev/null 2>&1 & wait; exit 0', True),
        ('ignores the status of a process with undefined behaviour',
         '"$PLANT" 1 >/dev/null 2>&1; exit 0', True),
        ('keeps the standard error of a process it started without the sanitizer options',
         'env -i "$PLANT" 1 >"$ORVANE_TEST_TMPDIR/plant.log" 2>&1; exit 0', True),
        ('runs the same process without undefined behaviour',
         '"$PLANT" 0 >/dev/null 2>&1 & wait; exit 0', False),
    ]

    def test_a_report_fails_the_test(self):
        for what, command, fails in self.ROWS:
            with self.subTest(what):
                result = subprocess.run([HARNESS, '/bin/sh', '-c', command], env=dict(os.environ, PLANT=PLANT),
                                        capture_output=True, text=True, timeout=120)
                if fails:
                    self.assertNotEqual(result.returncode, 0, result.stderr)
                    self.assertIn('run-with-buses: sanitizer report', result.stderr)
                    self.assertIn('runtime error: signed integer overflow', result.stderr)
                else:
                    self.assertEqual(result.returncode, 0, result.stderr)
                    self.assertNotIn('sanitizer report', result.stderr)


if __name__ == '__main__':
    unittest.main()
