'''A flood of system notices, valid and malformed, from the system daemon's
own name: the daemon shows every notice meant for its user and nothing else,
gives its memory back, and still hears the next notice at once.'''
import json
import os
import pwd
import subprocess
import threading
import time
import unittest

from orvane_testlib import (DaemonTestCase, FaultPeer, FAULT_PEER, NOTIFY_NAME, SYSTEM_DAEMON_NAME,
                            SYSTEM_DAEMON_PATH, SYSTEM_DAEMON_IFACE, TMPDIR, rss_kib, wait_until)

ME = pwd.getpwuid(os.getuid()).pw_name


def notice_for_me(app):
    return json.dumps({'opt': 1, 'appName': app, 'packageName': 'p', 'logname': ME})


class FloodTestCase(DaemonTestCase):
    def setUp(self):
        super().setUp()
        self.notifications = FaultPeer(False, NOTIFY_NAME, answer_notify=True, log_name='notifications')
        self._fakes.append(self.notifications)
        self.daemon = self.start_daemon(env=self.daemon_env(NUVIX_OS_RELEASE=self.edition_env(3)))
        self.probes = 0

    def shown(self):
        return [c[1] for c in self.notifications.calls('Notify') if len(c) > 1]

    def probe(self, timeout):
        '''Sends one notice from the system daemon's name; returns the seconds
        until the notification server got it, or None.'''
        self.probes += 1
        summary = '"probe %d" installed successfully' % self.probes
        owner = FaultPeer(True, SYSTEM_DAEMON_NAME, log_name='probe')
        try:
            start = time.monotonic()
            owner.emit(SYSTEM_DAEMON_PATH, SYSTEM_DAEMON_IFACE, 'sigSystemNotificationSent', 's',
                       notice_for_me('probe %d' % self.probes))
            try:
                wait_until(lambda: summary in self.shown(), timeout, 'probe')
            except AssertionError:
                return None
            return time.monotonic() - start
        finally:
            owner.stop()

    def flood(self, rate, seconds, size=0, mine_every=20, tag='flood'):
        '''Runs the emitter under the system daemon's name; returns the summaries
        it sent for this user, its figures line and the peak RSS in KiB.'''
        expect = os.path.join(TMPDIR, 'expect-%s' % tag)
        argv = [FAULT_PEER, 'flood', '--system', '--name', SYSTEM_DAEMON_NAME, '--rate', str(rate),
                '--seconds', str(seconds), '--user', ME, '--mine-every', str(mine_every), '--size', str(size),
                '--expect', expect, '--tag', tag]
        peak = [0]
        done = threading.Event()

        def sample():
            while not done.is_set():
                try:
                    peak[0] = max(peak[0], rss_kib(self.daemon.pid))
                except (OSError, AssertionError):
                    return
                done.wait(0.05)
        sampler = threading.Thread(target=sample)
        sampler.start()
        try:
            result = subprocess.run(argv, capture_output=True, text=True, timeout=seconds * 6 + 60)
        finally:
            done.set()
            sampler.join()
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(expect) as f:
            expected = [l.rstrip('\n') for l in f]
        return expected, result.stdout.strip(), peak[0]


class FloodTest(FloodTestCase):
    def test_mixed_flood(self):
        self.assertIsNotNone(self.probe(10), 'warm-up notice not shown')
        self.settle()
        before = rss_kib(self.daemon.pid)

        expected, figures, peak = self.flood(10000, 10)
        self.assertIsNone(self.daemon.proc.poll(), 'daemon died in the flood:\n' + self.daemon.text())
        latency = self.probe(2)
        self.assertIsNotNone(latency, 'probe after the flood not handled within 2 s')

        # Every notice for this user arrives (the daemon may still be working
        # through its queue), and nothing else does.
        wanted = set(expected)
        wait_until(lambda: wanted <= set(self.shown()), 60, 'every notice of the flood')
        self.settle()
        shown = self.shown()
        others = [s for s in shown if s not in wanted and not s.startswith('"probe ')]
        self.assertEqual(others, [], 'shown without being for this user')
        self.assertEqual(len(shown), len(set(shown)), 'a notice was shown twice')

        after = rss_kib(self.daemon.pid)
        print('flood: %s; %d notices shown; RSS before %d KiB, peak %d KiB, after %d KiB (%+d KiB); '
              'probe handled in %.3f s' % (figures, len(expected), before, peak, after, after - before, latency),
              flush=True)
        self.assertLessEqual(after - before, 1024, 'memory not given back after the flood')
        self.assertEqual(self.daemon.stop(), 0)


if __name__ == '__main__':
    unittest.main()
