'''Per-event cost of the daemon: each kind of event is sent N times by a fake
peer; the daemon's CPU time (user + system, from /proc) is divided by N. The
cost includes receiving and decoding the D-Bus message.'''
import json
import os
import pwd
import subprocess
import sys


from orvane_testlib import (bus, name_has_owner, wait_until, wait_for_daemon, Fake, TEMPLATES, TMPDIR, SESSION_NAME,
                            SYSTEM_DAEMON_NAME, SYSTEM_DAEMON_PATH, SYSTEM_DAEMON_IFACE, LOCK_NAME, LOCK_PATH,
                            LOCK_IFACE)

ME = pwd.getpwuid(os.getuid()).pw_name
TICK = os.sysconf('SC_CLK_TCK')


def cpu_seconds(pid):
    with open('/proc/%d/stat' % pid) as f:
        fields = f.read().rsplit(')', 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICK


def rss_kib(pid):
    with open('/proc/%d/status' % pid) as f:
        return int(next(l for l in f if l.startswith('VmRSS:')).split()[1])


def main(n):
    system_daemon = Fake(['--template', os.path.join(TEMPLATES, 'appstore_daemon.py'), '-p',
                          json.dumps({'config': {'upgradeNoticeTime': '20000101'}})],
                         SYSTEM_DAEMON_NAME, SYSTEM_DAEMON_PATH, True, 'bench-appstore.log')
    lock = Fake(['--template', os.path.join(TEMPLATES, 'lock_service.py')], LOCK_NAME, LOCK_PATH, True,
                'bench-lock.log')
    notifications = Fake(['--template', 'notification_daemon'], 'org.freedesktop.Notifications',
                         '/org/freedesktop/Notifications', False, 'bench-notify.log')
    release = os.path.join(TMPDIR, 'os-release')
    with open(release, 'w') as f:
        f.write('NUVIX_EDITION_TYPE=3\n')
    env = dict(os.environ, NUVIX_OS_RELEASE=release, QT_LOGGING_RULES='*.debug=false')
    daemon = subprocess.Popen([os.environ['ORVANE_DAEMON']], env=env, stderr=subprocess.DEVNULL)
    session = bus(False)
    wait_until(lambda: name_has_owner(session, SESSION_NAME), message='daemon')

    def settle():
        wait_for_daemon(session, timeout=120)

    settle()
    notice = json.dumps({'opt': 1, 'appName': 'Foo', 'packageName': 'foo', 'logname': ME})
    other = json.dumps({'opt': 1, 'appName': 'Foo', 'packageName': 'foo', 'logname': 'somebody-else'})
    apps = [json.dumps({'package_name': 'p%d' % i, 'name': 'App %d' % i, 'supportWayland': 1}) for i in range(5)]
    kinds = [
        ('system notice shown', lambda: system_daemon.emit(SYSTEM_DAEMON_IFACE, 'sigSystemNotificationSent', 's', [notice])),
        ('system notice for another user', lambda: system_daemon.emit(SYSTEM_DAEMON_IFACE, 'sigSystemNotificationSent', 's', [other])),
        ('upgrade list, already notified today', lambda: system_daemon.emit(SYSTEM_DAEMON_IFACE, 'sigLocalAppsUpgradeNotify', 'as', [apps])),
        ('user changed, this user', lambda: lock.emit(LOCK_IFACE, 'UserChanged', 's', [ME])),
        ('user changed, other user', lambda: lock.emit(LOCK_IFACE, 'UserChanged', 's', ['somebody-else'])),
    ]
    # One upgrade list first, so that the later ones meet today's date.
    system_daemon.emit(SYSTEM_DAEMON_IFACE, 'sigLocalAppsUpgradeNotify', 'as', [apps])
    settle()
    rss_start = rss_kib(daemon.pid)
    print('events per kind: %d (debug output off)' % n)
    for name, send in kinds:
        system_daemon.clear()
        notifications.clear()
        before = cpu_seconds(daemon.pid)
        for _ in range(n):
            send()
        settle()
        spent = cpu_seconds(daemon.pid) - before
        print('  %-40s %7.1f us CPU per event' % (name, spent / n * 1e6))
    rss_end = rss_kib(daemon.pid)
    print('resident memory: %d KiB before the bursts, %d KiB after %d events' % (rss_start, rss_end, n * len(kinds)))
    daemon.terminate()
    daemon.wait()
    for fake in (system_daemon, lock, notifications):
        fake.stop()


if __name__ == '__main__':
    main(int(sys.argv[1]))
