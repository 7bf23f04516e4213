'''Start-up time and idle memory of the daemon, measured with its peers
present (fake system daemon and lock service on the private system bus).'''
import os
import statistics
import subprocess
import sys
import time

from orvane_testlib import (bus, name_has_owner, wait_until, wait_for_daemon, Fake, TEMPLATES, SESSION_NAME, SYSTEM_DAEMON_NAME,
                            SYSTEM_DAEMON_PATH, LOCK_NAME, LOCK_PATH)


def main(runs):
    fakes = [Fake(['--template', os.path.join(TEMPLATES, 'appstore_daemon.py')], SYSTEM_DAEMON_NAME,
                  SYSTEM_DAEMON_PATH, True, 'measure-appstore.log'),
             Fake(['--template', os.path.join(TEMPLATES, 'lock_service.py')], LOCK_NAME, LOCK_PATH, True,
                  'measure-lock.log')]
    session = bus(False)
    devnull = open(os.devnull, 'wb')
    times = []
    rss = []
    anon = []
    for _ in range(runs):
        start = time.monotonic()
        proc = subprocess.Popen([os.environ['ORVANE_DAEMON']], stderr=devnull)
        # Polling costs about a millisecond per round trip; it bounds the resolution.
        while not name_has_owner(session, SESSION_NAME):
            if proc.poll() is not None:
                raise SystemExit('daemon exited with %d' % proc.returncode)
        times.append((time.monotonic() - start) * 1000)
        # Idle: let the first report and the event loop settle, then read VmRSS.
        wait_for_daemon(session)
        time.sleep(1.0)
        with open('/proc/%d/status' % proc.pid) as f:
            fields = dict(line.split(':', 1) for line in f)
        rss.append(int(fields['VmRSS'].split()[0]))
        anon.append(int(fields['RssAnon'].split()[0]))
        proc.terminate()
        proc.wait()
        wait_until(lambda: not name_has_owner(session, SESSION_NAME), message='name released')
    for fake in fakes:
        fake.stop()

    print('start-ups measured: %d' % runs)
    print('exec -> name owned: median %.1f ms, min %.1f ms, max %.1f ms'
          % (statistics.median(times), min(times), max(times)))
    print('idle resident memory (VmRSS, 1 s after start): median %d KiB, min %d KiB, max %d KiB'
          % (statistics.median(rss), min(rss), max(rss)))
    print('  of which private heap and stacks (RssAnon): median %d KiB' % statistics.median(anon))


if __name__ == '__main__':
    main(int(sys.argv[1]))
