'''SIGINT and SIGTERM end the program in order, with status 0 within 3 s,
whatever it is doing: idle, in a flood of system notices, or waiting in a
blocking call on a system daemon that never answers. 100 runs each.'''
import json
import os
import pwd
import random
import signal
import statistics
import subprocess
import time
import unittest

from orvane_testlib import (DaemonTestCase, Daemon, DAEMON, FaultPeer, FAULT_PEER, SESSION_NAME, SYSTEM_DAEMON_NAME,
                            SYSTEM_DAEMON_PATH, SYSTEM_DAEMON_IFACE, SANITIZED, name_has_owner, wait_for_daemon, wait_until)

ME = pwd.getpwuid(os.getuid()).pw_name
RUNS = int(os.environ.get('ORVANE_SIGNAL_RUNS', '100'))
BOUND = 6.0 if SANITIZED else 3.0
# A hung daemon costs a run its whole wait: stop early rather than time out.
MAX_FAILURES = 5


class TerminationTestCase(DaemonTestCase):
    situation = ''

    def start(self, env):
        daemon = Daemon([DAEMON], env, 'daemon-run.log')
        wait_until(lambda: daemon.proc.poll() is not None or name_has_owner(self.session_bus, SESSION_NAME),
                   30, 'daemon to own its name')
        if daemon.proc.poll() is not None:
            raise AssertionError('daemon exited with %s:\n%s' % (daemon.proc.returncode, daemon.text()))
        wait_for_daemon(self.session_bus)
        return daemon

    def runs(self, env, during, after=lambda: None):
        '''Starts the daemon RUNS times; during(daemon) brings it into the
        situation, then it gets SIGINT or SIGTERM in turn.'''
        times = []
        failures = []
        for run in range(RUNS):
            daemon = self.start(env)
            sig = signal.SIGTERM if run % 2 else signal.SIGINT
            try:
                during(daemon)
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
                failures.append('run %d, %s: status %s after %.2f s; log:\n%s'
                                % (run, signal.Signals(sig).name, status, took, daemon.text()[-3000:]))
            wait_until(lambda: not name_has_owner(self.session_bus, SESSION_NAME), 10, 'daemon name released')
            if len(failures) >= MAX_FAILURES:
                break
        print('signals %s: %d runs, %d failed; exit after the signal: median %.3f s, max %.3f s'
              % (self.situation, len(times), len(failures), statistics.median(times), max(times)), flush=True)
        self.assertEqual(failures[:1], [], '%d of %d runs failed' % (len(failures), len(times)))


class IdleTerminationTest(TerminationTestCase):
    situation = 'while idle'

    def test_signal_while_idle(self):
        self.runs(self.daemon_env(), lambda daemon: None)


class FloodTerminationTest(TerminationTestCase):
    situation = 'during a flood'

    def test_signal_during_flood(self):
        emitters = []

        def flood(daemon):
            # Claims the system daemon's name after the daemon's start, so the
            # start does not wait on a peer that never answers. Every other
            # notice is for this user, and no notification server runs: the
            # error replies to the notices are still coming in at the exit.
            emitter = subprocess.Popen([FAULT_PEER, 'flood', '--system', '--name', SYSTEM_DAEMON_NAME, '--rate', '10000',
                                        '--seconds', '5', '--user', ME, '--mine-every', '2'],
                                       stdout=subprocess.DEVNULL)
            emitters.append(emitter)
            wait_until(lambda: name_has_owner(self.system_bus, SYSTEM_DAEMON_NAME), 10, 'the emitter')
            time.sleep(random.uniform(0.2, 1.0))  # into the flood, at no fixed point

        def stop_emitter():
            for emitter in emitters:
                emitter.kill()
                emitter.wait()
            emitters.clear()
            wait_until(lambda: not name_has_owner(self.system_bus, SYSTEM_DAEMON_NAME), 10, 'the emitter gone')
        self.runs(self.daemon_env(NUVIX_OS_RELEASE=self.edition_env(3)), flood, stop_emitter)


class BlockingCallTerminationTest(TerminationTestCase):
    situation = 'during a blocking call'

    def test_signal_during_blocking_call(self):
        peers = []

        def block(daemon):
            # A system daemon that owns its name and answers nothing; its
            # upgrade list makes the daemon ask it, and wait.
            peer = FaultPeer(True, SYSTEM_DAEMON_NAME, log_name='hung-system-daemon')
            peers.append(peer)
            peer.emit(SYSTEM_DAEMON_PATH, SYSTEM_DAEMON_IFACE, 'sigLocalAppsUpgradeNotify', 'as',
                      [json.dumps({'package_name': 'a', 'name': 'A'})])
            peer.wait_calls('Get', 1)
            time.sleep(random.uniform(0, 1.5))

        def stop_peer():
            for peer in peers:
                peer.stop()
            peers.clear()
        self.runs(self.daemon_env(), block, stop_peer)


if __name__ == '__main__':
    unittest.main()
