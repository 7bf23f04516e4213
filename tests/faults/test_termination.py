# SPDX-FileCopyrightText: 2026 Orvane
# SPDX-License-Identifier: GPL-3.0-or-later

'''SIGINT and SIGTERM end the program in order, with status 0 well inside
the session unit's TimeoutStopSec (15 s), whatever it is doing: idle (100
runs), in a flood of system notices, or waiting in a blocking call on a
system daemon that never answers.

The signal goes out at fixed points of each situation: its window is cut into
cells and each cell gets SIGINT and SIGTERM once, at a point drawn inside the
cell. The draw's seed is printed; ORVANE_STRESS_SEED replays it, and
ORVANE_SIGNAL_RUNS sets the number of runs of every group (the grid's points
in turn, again and again).'''
import json
import os
import pwd
import random
import signal
import statistics
import subprocess
import time
import unittest

from orvane_testlib import (DaemonTestCase, FaultPeer, FAULT_PEER, SESSION_NAME, SYSTEM_DAEMON_NAME,
                            SYSTEM_DAEMON_PATH, SYSTEM_DAEMON_IFACE, name_has_owner, wait_until)

ME = pwd.getpwuid(os.getuid()).pw_name
RUNS = os.environ.get('ORVANE_SIGNAL_RUNS')
SEED = int(os.environ.get('ORVANE_STRESS_SEED') or random.SystemRandom().randrange(1 << 32))
# Well inside the unit's TimeoutStopSec=15s, also for a sanitized build on a
# busy machine; the median and the longest exit are printed as figures.
BOUND = 10.0
# A hung daemon costs a run its whole wait: stop early rather than time out.
MAX_FAILURES = 5


class TerminationTestCase(DaemonTestCase):
    situation = ''

    @staticmethod
    def grid(start, end, cells):
        '''The window [start, end] cut into cells, in order, each for SIGINT
        and for SIGTERM: [(low, high, signal)].'''
        width = (end - start) / cells
        return [(start + cell * width, start + (cell + 1) * width, sig)
                for cell in range(cells) for sig in (signal.SIGINT, signal.SIGTERM)]

    def runs(self, env, during, after=lambda: None, points=None):
        '''Starts the daemon once for each point, at a delay drawn inside the
        point's cell; during(delay) brings it into the situation, then it
        gets the point's signal. Without points: 100 runs, no delay, SIGINT
        and SIGTERM in turn.'''
        count = len(points) if points else 100
        points = points or [(0.0, 0.0, signal.SIGINT), (0.0, 0.0, signal.SIGTERM)]
        count = int(RUNS) if RUNS else count
        rng = random.Random(SEED)
        print('signals %s: seed %d (ORVANE_STRESS_SEED), %d runs over %d points'
              % (self.situation, SEED, count, len(points)), flush=True)
        times = []
        failures = []
        for run in range(count):
            low, high, sig = points[run % len(points)]
            delay = low + rng.random() * (high - low)
            daemon = self.start_daemon(env, log_name='daemon-run.log', timeout=30)
            # Reaped below; only the one at hand is the test case's to clean up.
            self._daemons = [daemon]
            try:
                during(delay)
                start = time.monotonic()
                daemon.proc.send_signal(sig)
                try:
                    status = daemon.proc.wait(BOUND + 7)
                except subprocess.TimeoutExpired:
                    daemon.proc.kill()
                    daemon.proc.wait()
                    status = 'none (killed)'
                took = time.monotonic() - start
            finally:
                if daemon.proc.poll() is None:
                    daemon.proc.kill()
                    daemon.proc.wait()
                daemon.log.close()
                after()
            times.append(took)
            if status != 0 or took > BOUND:
                failures.append('run %d, %s %.3f s into it: status %s after %.2f s; log:\n%s'
                                % (run, signal.Signals(sig).name, delay, status, took, daemon.text()[-3000:]))
            wait_until(lambda: not name_has_owner(self.session_bus, SESSION_NAME), 10, 'daemon name released')
            if len(failures) >= MAX_FAILURES:
                break
        print('signals %s: %d runs, %d failed; exit after the signal: median %.3f s, max %.3f s'
              % (self.situation, len(times), len(failures), statistics.median(times), max(times)), flush=True)
        self.assertEqual(failures[:1], [], '%d of %d runs failed' % (len(failures), len(times)))


class IdleTerminationTest(TerminationTestCase):
    situation = 'while idle'

    def test_signal_while_idle(self):
        self.runs(self.daemon_env(), lambda delay: None)


class FloodTerminationTest(TerminationTestCase):
    situation = 'during a flood'

    def test_signal_during_flood(self):
        emitters = []

        def flood(delay):
            # Claims the system daemon's name after the daemon's start, so the
            # start does not wait on a peer that never answers. Every other
            # notice is for this user, and no notification server runs: the
            # error replies to the notices are still coming in at the exit.
            emitter = subprocess.Popen([FAULT_PEER, 'flood', '--system', '--name', SYSTEM_DAEMON_NAME, '--rate', '10000',
                                        '--seconds', '5', '--user', ME, '--mine-every', '2'],
                                       stdout=subprocess.DEVNULL)
            emitters.append(emitter)
            wait_until(lambda: name_has_owner(self.system_bus, SYSTEM_DAEMON_NAME), 10, 'the emitter')
            time.sleep(delay)

        def stop_emitter():
            for emitter in emitters:
                emitter.kill()
                emitter.wait()
            emitters.clear()
            wait_until(lambda: not name_has_owner(self.system_bus, SYSTEM_DAEMON_NAME), 10, 'the emitter gone')
        # 0.2 s to 1 s into the 5 s flood: the emitter and the error replies
        # are both in full swing.
        self.runs(self.daemon_env(NUVIX_OS_RELEASE=self.edition_env(3)), flood, stop_emitter,
                  self.grid(0.2, 1.0, 16))


class BlockingCallTerminationTest(TerminationTestCase):
    situation = 'during a blocking call'

    def test_signal_during_blocking_call(self):
        peers = []

        def block(delay):
            # A system daemon that owns its name and answers nothing; its
            # upgrade list makes the daemon ask it, and wait.
            peer = FaultPeer(True, SYSTEM_DAEMON_NAME, log_name='hung-system-daemon')
            peers.append(peer)
            peer.emit(SYSTEM_DAEMON_PATH, SYSTEM_DAEMON_IFACE, 'sigLocalAppsUpgradeNotify', 'as',
                      [json.dumps({'package_name': 'a', 'name': 'A'})])
            peer.wait_calls('Get', 1)
            time.sleep(delay)

        def stop_peer():
            for peer in peers:
                peer.stop()
            peers.clear()
        # From the call's start to 1.5 s into its 2 s bound: the signal waits
        # out the rest of the call, and the exit still keeps to its 3 s.
        self.runs(self.daemon_env(), block, stop_peer, self.grid(0.0, 1.5, 12))


if __name__ == '__main__':
    unittest.main()
