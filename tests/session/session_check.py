#!/usr/bin/python3
# SPDX-FileCopyrightText: 2026 Orvane
# SPDX-License-Identifier: GPL-3.0-or-later

'''The packages of the tree in a booted Debian system: run as root by a
oneshot unit inside the container that scripts/session-check boots.

Sets up fakes of the system app-store daemon and of the lock service as
system services, a user whose user manager runs (lingering), a notification
server on that user's bus and a test target that binds
graphical-session.target as session managers do; then checks what the
installed unit, activation file, autostart entry and packages do there.
Each check writes one line "PASS|FAIL NAME SECONDS DETAIL" to
/out/results; /out/done marks the end. Every wait is bounded.

  session_check.py DEBS_DIR UPGRADE_DEBS_DIR
  session_check.py --session-call ...   (as the user: one session-bus call)
'''
import glob
import json
import os
import pwd
import signal
import subprocess
import sys
import time

UNIT = 'orvane-appstore-session-daemon.service'
PROGRAM = '/usr/libexec/orvane-appstore-session-daemon'
NAME = 'com.orvane.appstore.daemon'
PACKAGES = ['orvane-appstore-session-daemon', 'orvane-appstore-session-plugin', 'orvane-appstore-session-schemas']
ENABLE_LINK = '/etc/systemd/user/graphical-session.target.wants/' + UNIT
SESSION_TARGET = 'orvane-check-session.target'
NOTIFY_UNIT = 'orvane-check-notifications.service'
PROXY_SCHEMA = 'com.orvane.wrap.gnome.system.proxy'
SYSTEM_DAEMON = ('com.home.appstore.daemon', '/appstore', 'com.home.appstore.daemon.interface')
LOCK = ('com.orvane.kesh.LockService', '/com/orvane/kesh/LockService')
MOCK_IFACE = 'org.freedesktop.DBus.Mock'
USER = 'tester'
OUT = '/out'
TEMPLATES = '/check/templates'
# Paths whose contents belong to dpkg, apt, the journal and other system
# book-keeping, not to a package: left out of the before/after file lists.
NOT_OURS = ('/var/log/', '/var/cache/', '/var/lib/apt/', '/var/lib/dpkg/', '/var/tmp/', '/var/lib/systemd/coredump/',
            '/var/lib/systemd/timers/', '/var/lib/systemd/catalog/', '/etc/ld.so.cache', '/var/lib/dbus/')

SYSTEM_POLICY = '''<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <policy user="root">
    <allow own="com.home.appstore.daemon"/>
    <allow own="com.orvane.kesh.LockService"/>
  </policy>
  <policy context="default">
    <allow send_destination="com.home.appstore.daemon"/>
    <allow send_destination="com.orvane.kesh.LockService"/>
  </policy>
</busconfig>
'''
FAKE_UNIT = '''[Unit]
Description=Fake of %(what)s for the session check
[Service]
Type=dbus
BusName=%(name)s
ExecStart=/usr/bin/python3 -m dbusmock --system --template %(template)s
'''
SESSION_TARGET_UNIT = '''[Unit]
Description=Graphical session of the session check
# As a session manager's target: the session binds graphical-session.target
# and pulls in the units generated from the autostart entries.
BindsTo=graphical-session.target
Wants=graphical-session-pre.target xdg-desktop-autostart.target
After=graphical-session-pre.target
'''
NOTIFY_UNIT_TEXT = '''[Unit]
Description=Fake notification server of the session check
[Service]
Type=dbus
BusName=org.freedesktop.Notifications
ExecStart=/usr/bin/python3 -m dbusmock --template notification_daemon
'''
# An entry the autostart generator does turn into a unit: shows that it ran.
CONTROL_DESKTOP = '''[Desktop Entry]
Type=Application
Name=Session check control entry
Exec=/bin/true
'''


class CheckFailed(Exception):
    pass


def run(argv, timeout=60, check=True, user=False, **kwargs):
    if user:
        argv = ['runuser', '-u', USER, '--', 'env'] + ['%s=%s' % kv for kv in user_env().items()] + list(argv)
    result = subprocess.run(argv, timeout=timeout, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                            **kwargs)
    if check and result.returncode != 0:
        raise CheckFailed('%s: status %d: %s' % (' '.join(argv[-6:]), result.returncode,
                                                 (result.stderr or result.stdout).strip()[-400:]))
    return result


def user_env():
    uid = pwd.getpwnam(USER).pw_uid
    return {'XDG_RUNTIME_DIR': '/run/user/%d' % uid, 'DBUS_SESSION_BUS_ADDRESS': 'unix:path=/run/user/%d/bus' % uid,
            'HOME': '/home/' + USER, 'LANG': 'C.UTF-8'}


def userctl(*args, timeout=30, check=True):
    return run(['systemctl', '--user'] + list(args), timeout=timeout, check=check, user=True)


def prop(name, unit=UNIT):
    return userctl('show', '-P', name, unit).stdout.strip()


def wait_until(predicate, what, timeout=20.0, step=0.05):
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise CheckFailed('timed out after %.0f s waiting for %s' % (timeout, what))
        time.sleep(step)


def session_call(*args, timeout=30):
    '''One call on the user's session bus, made as the user; the JSON result.'''
    out = run([sys.executable, os.path.abspath(__file__), '--session-call'] + [json.dumps(a) for a in args],
              timeout=timeout, user=True).stdout
    return json.loads(out)


def session_call_main(args):
    import dbus  # pylint: disable=import-outside-toplevel
    bus = dbus.SessionBus()
    name, path, iface, method, params = (json.loads(a) for a in args)
    reply = bus.call_blocking(name, path, iface, method, params[0] if params else '', params[1:], timeout=25)
    print(json.dumps(reply, default=str))


def name_owner_pid():
    try:
        return int(session_call('org.freedesktop.DBus', '/org/freedesktop/DBus', 'org.freedesktop.DBus',
                                'GetConnectionUnixProcessID', ['s', NAME]))
    except CheckFailed:
        return 0


def notifications(clear=False):
    method = 'ClearCalls' if clear else 'GetCalls'
    calls = session_call('org.freedesktop.Notifications', '/org/freedesktop/Notifications', MOCK_IFACE, method, [])
    return [c for c in calls or [] if c[1] == 'Notify']


def system_mock(name, path):
    import dbus  # pylint: disable=import-outside-toplevel
    return dbus.Interface(dbus.SystemBus().get_object(name, path), MOCK_IFACE)


def proxy_reports(mock):
    return [[str(a) for a in c[2]] for c in mock.GetCalls() if c[1] == 'SetSystemProxy']


def daemon_pids():
    out = run(['pgrep', '-u', USER, '-f', '^' + PROGRAM], check=False).stdout
    return sorted(int(p) for p in out.split())


def cgroup_of(pid):
    with open('/proc/%d/cgroup' % pid) as f:
        return f.read()


def file_list():
    found = set()
    for top in ('/usr', '/etc', '/var'):
        for root, dirs, files in os.walk(top):
            for entry in dirs + files:
                path = os.path.join(root, entry)
                if not any(path.startswith(p) or path + '/' == p for p in NOT_OURS):
                    found.add(path)
    return found


def installed_versions():
    out = run(['dpkg-query', '-W', '-f', '${Package} ${db:Status-Abbrev} ${Version}\n'] + PACKAGES, check=False).stdout
    return {line.split()[0]: line.split()[1:] for line in out.splitlines() if line.strip()}


class Checks:
    def __init__(self, debs, upgrade_debs):
        self.debs = sorted(glob.glob(os.path.join(debs, '*.deb')))
        self.upgrade_debs = sorted(glob.glob(os.path.join(upgrade_debs, '*.deb')))
        self.results = open(os.path.join(OUT, 'results'), 'a', buffering=1)
        self.failed = 0
        self.store = None
        self.before = set()

    def check(self, name, function):
        start = time.monotonic()
        try:
            detail = function() or ''
            verdict = 'PASS'
        except Exception as e:  # pylint: disable=broad-except
            detail = '%s: %s' % (type(e).__name__, e) if not isinstance(e, CheckFailed) else str(e)
            verdict = 'FAIL'
            self.failed += 1
        line = '%s %s %.1f %s' % (verdict, name, time.monotonic() - start, ' '.join(detail.split()))
        self.results.write(line + '\n')
        print(line, flush=True)
        return verdict == 'PASS'

    def apt(self, *args, timeout=300):
        return run(['apt-get', '-o', 'DPkg::Lock::Timeout=60', '-y', '-q', '--no-install-recommends'] + list(args),
                   timeout=timeout, env=dict(os.environ, DEBIAN_FRONTEND='noninteractive'))

    # -- set-up --------------------------------------------------------------

    def setup(self):
        '''Fakes on the system bus, the user and its manager, the packages.'''
        with open('/etc/dbus-1/system.d/orvane-session-check.conf', 'w') as f:
            f.write(SYSTEM_POLICY)
        run(['systemctl', 'reload', 'dbus.service'])
        for unit, what, name, template in (
                ('orvane-check-appstore-daemon', 'the system app-store daemon', SYSTEM_DAEMON[0], 'appstore_daemon.py'),
                ('orvane-check-lock-service', 'the lock service', LOCK[0], 'lock_service.py')):
            with open('/etc/systemd/system/%s.service' % unit, 'w') as f:
                f.write(FAKE_UNIT % {'what': what, 'name': name, 'template': os.path.join(TEMPLATES, template)})
        run(['systemctl', 'daemon-reload'])
        run(['systemctl', 'start', 'orvane-check-appstore-daemon.service', 'orvane-check-lock-service.service'])
        self.store = system_mock(*SYSTEM_DAEMON[:2])
        self.lock = system_mock(*LOCK)

        # System notices are for one edition of the desktop.
        with open('/etc/os-release') as f:
            release = f.read()
        os.unlink('/etc/os-release')
        with open('/etc/os-release', 'w') as f:
            f.write(release.rstrip('\n') + '\nNUVIX_EDITION_TYPE=3\n')

        os.makedirs('/etc/xdg/autostart', exist_ok=True)
        for path, text in ((os.path.join('/etc/systemd/user', SESSION_TARGET), SESSION_TARGET_UNIT),
                           (os.path.join('/etc/systemd/user', NOTIFY_UNIT), NOTIFY_UNIT_TEXT),
                           ('/etc/xdg/autostart/orvane-check-control.desktop', CONTROL_DESKTOP)):
            with open(path, 'w') as f:
                f.write(text)
        run(['useradd', '--create-home', '--shell', '/bin/bash', USER])
        run(['loginctl', 'enable-linger', USER])
        wait_until(lambda: userctl('is-system-running', check=False).stdout.strip() in ('running', 'degraded'),
                   "the user manager of %s" % USER, timeout=60, step=0.2)

        # Installed once and purged, so that the file list of "before" holds
        # the dependencies but nothing of ours; then installed for the checks.
        self.apt('install', *self.debs)
        run(['dpkg', '--purge'] + PACKAGES)
        self.before = file_list()
        self.apt('install', *self.debs)
        versions = installed_versions()
        if sorted(versions) != sorted(PACKAGES) or any(v[0] != 'ii' for v in versions.values()):
            raise CheckFailed('installed: %s' % versions)
        if not os.path.islink(ENABLE_LINK):
            raise CheckFailed('no enablement link ' + ENABLE_LINK)
        userctl('daemon-reload')
        userctl('start', NOTIFY_UNIT)
        return '%d packages (%s), user manager of %s running' % (
            len(versions), ', '.join(sorted({v[1] for v in versions.values()})), USER)

    # -- the session ---------------------------------------------------------

    def session_starts(self):
        self.store.ClearCalls()
        userctl('start', SESSION_TARGET)
        wait_until(lambda: prop('ActiveState') == 'active', UNIT + ' active')
        main_pid = int(prop('MainPID'))
        owner = name_owner_pid()
        if owner != main_pid:
            raise CheckFailed('%s owned by pid %d, the unit runs %d' % (NAME, owner, main_pid))
        if '/' + UNIT not in cgroup_of(owner):
            raise CheckFailed('pid %d is not in the cgroup of the unit: %s' % (owner, cgroup_of(owner)))
        reports = wait_until(lambda: proxy_reports(self.store), 'the first SetSystemProxy', timeout=10)
        user, environment = reports[0]
        if user != USER:
            raise CheckFailed('first report for %r, not %r' % (user, USER))
        if len(json.loads(environment)) != 7:
            raise CheckFailed('first report: %s' % environment)
        return 'unit active, %s owned by its main pid %d (cgroup %s), first SetSystemProxy(%s, %s)' % (
            NAME, owner, UNIT, user, environment)

    def activation(self):
        userctl('stop', UNIT)
        wait_until(lambda: prop('ActiveState') == 'inactive' and not name_owner_pid(), UNIT + ' stopped')
        if daemon_pids():
            raise CheckFailed('a daemon runs with the unit stopped: %s' % daemon_pids())
        session_call(NAME, '/com/orvane/appstore/daemon', NAME, 'Instance', [])
        state = prop('ActiveState')
        main_pid = int(prop('MainPID'))
        owner = name_owner_pid()
        if state != 'active' or owner != main_pid or daemon_pids() != [main_pid]:
            raise CheckFailed('after Instance: unit %s, main pid %d, name owner %d, daemons %s' % (
                state, main_pid, owner, daemon_pids()))
        status = userctl('status', '--no-pager', UNIT, check=False).stdout
        if 'active (running)' not in status or str(main_pid) not in status:
            raise CheckFailed('systemctl --user status: %s' % status)
        return 'Instance started %s (main pid %d owns the name, the only daemon); status: %s' % (
            UNIT, main_pid, [l.strip() for l in status.splitlines() if 'Active:' in l][0])

    def start_waits_for_name(self):
        userctl('stop', UNIT)
        userctl('start', UNIT)
        owner = name_owner_pid()
        if not owner:
            raise CheckFailed('systemctl --user start returned before %s was owned' % NAME)
        return 'when systemctl --user start returned, %s was owned (pid %d): Type=%s' % (NAME, owner, prop('Type'))

    def settings_store(self):
        url = 'http://wpad.example/proxy.pac'
        run(['gsettings', 'set', PROXY_SCHEMA, 'autoconfig-url', url], user=True)
        time.sleep(1)
        self.store.ClearCalls()
        run(['gsettings', 'set', PROXY_SCHEMA, 'mode', 'auto'], user=True)
        wait_until(lambda: proxy_reports(self.store), 'a report after the mode change', timeout=10)
        time.sleep(1.5)
        reports = proxy_reports(self.store)
        if len(reports) != 1 or json.loads(reports[0][1]).get('auto_proxy') != url or reports[0][0] != USER:
            raise CheckFailed('reports after gsettings set mode auto: %s' % reports)
        backend = run(['gsettings', 'get', PROXY_SCHEMA, 'mode'], user=True).stdout.strip()
        if not os.path.exists('/home/%s/.config/dconf/user' % USER):
            raise CheckFailed('no dconf database written')
        return 'gsettings set mode auto (dconf, now %s): one report %s' % (backend, reports[0][1])

    def journal(self):
        # A URL with a control character is refused with a warning.
        run(['gsettings', 'set', PROXY_SCHEMA, 'autoconfig-url', "'http://wpad.example/\\u0007.pac'"], user=True)
        marker = 'Leaving auto_proxy unset'

        def lines(priority):
            out = run(['journalctl', '--user', '-u', UNIT, '-p', priority, '-o', 'json', '--no-pager'],
                      user=True, check=False).stdout
            return [json.loads(l) for l in out.splitlines() if l.startswith('{')]

        def message(entry):
            text = entry.get('MESSAGE', '')
            return bytes(text).decode('utf-8', 'replace') if isinstance(text, list) else text

        warnings = wait_until(lambda: [e for e in lines('warning') if marker in message(e)],
                              'the warning in journalctl --user -u %s -p warning' % UNIT, timeout=10, step=0.3)
        if warnings[-1].get('PRIORITY') != '4':
            raise CheckFailed('warning with priority %s: %s' % (warnings[-1].get('PRIORITY'), message(warnings[-1])))
        debug = [e for e in lines('debug') if 'System Proxy:' in message(e)]
        if not debug or any(e.get('PRIORITY') != '7' for e in debug):
            raise CheckFailed('debug lines: %s' % [(e.get('PRIORITY'), message(e)[:80]) for e in debug])
        above_debug = [e for e in lines('info') if 'System Proxy:' in message(e)]
        if above_debug:
            raise CheckFailed('debug line at priority %s' % above_debug[0].get('PRIORITY'))
        return 'priority 4: "%s"; %d "System Proxy:" lines, all at priority 7, none with -p info' % (
            message(warnings[-1])[:120], len(debug))

    # -- restarts ------------------------------------------------------------

    def restart_on_crash(self):
        restart_sec = int(prop('RestartUSec').rstrip('s') if prop('RestartUSec').endswith('s') else 0)
        restarts, pid = int(prop('NRestarts')), int(prop('MainPID'))
        start = time.monotonic()
        os.kill(pid, signal.SIGSEGV)
        wait_until(lambda: prop('ActiveState') == 'active' and int(prop('MainPID')) not in (0, pid),
                   'the restart after SIGSEGV', timeout=restart_sec + 15)
        took = time.monotonic() - start
        new_pid = int(prop('MainPID'))
        if int(prop('NRestarts')) != restarts + 1 or took < restart_sec or name_owner_pid() != new_pid:
            raise CheckFailed('after SIGSEGV: %d restarts (before %d), back after %.1f s (RestartSec %d s), owner %d'
                              % (int(prop('NRestarts')), restarts, took, restart_sec, name_owner_pid()))
        return 'pid %d killed by SIGSEGV, pid %d owns the name %.1f s later (RestartSec=%ds), NRestarts %d' % (
            pid, new_pid, took, restart_sec, restarts + 1)

    def second_copy(self):
        restarts, pid = int(prop('NRestarts')), int(prop('MainPID'))
        status = run([PROGRAM], user=True, check=False, timeout=30)
        if status.returncode != 255:
            raise CheckFailed('second copy ended with %d: %s' % (status.returncode, status.stderr[-300:]))
        time.sleep(1)
        if int(prop('MainPID')) != pid or int(prop('NRestarts')) != restarts:
            raise CheckFailed('the unit changed: main pid %s, restarts %s' % (prop('MainPID'), prop('NRestarts')))
        # The unit's own process finding the name taken: 255, and no restart.
        userctl('stop', UNIT)
        env = dict(os.environ, **user_env())
        holder = subprocess.Popen(['runuser', '-u', USER, '--', 'env'] + ['%s=%s' % kv for kv in user_env().items()]
                                  + [PROGRAM], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
        try:
            wait_until(name_owner_pid, 'the hand-started copy owning the name')
            started = userctl('start', UNIT, check=False, timeout=30)
            restarts = int(prop('NRestarts'))  # a start by hand counts from 0
            time.sleep(float(prop('RestartUSec').rstrip('s') or 0) + 2)
            state = (prop('ActiveState'), prop('ExecMainStatus'), int(prop('NRestarts')), started.returncode)
        finally:
            holder.terminate()
            holder.wait(20)
            userctl('reset-failed', UNIT, check=False)
        if state[0] != 'failed' or state[1] != '255' or state[2] != restarts or state[3] == 0:
            raise CheckFailed('unit started while the name was taken: state %s, status %s, restarts %d (before %d), '
                              'systemctl start status %d' % (state[0], state[1], state[2], restarts, state[3]))
        return ('a copy by hand ended with 255 and left the unit alone; the unit started with the name taken: '
                'systemctl start failed (%d), unit failed with 255, no restart' % state[3])

    def stop(self):
        userctl('start', UNIT)
        limit = float(prop('TimeoutStopUSec').rstrip('s'))
        start = time.monotonic()
        userctl('stop', UNIT, timeout=limit + 10)
        took = time.monotonic() - start
        result = (prop('ExecMainCode'), prop('ExecMainStatus'), prop('Result'))
        if result != ('1', '0', 'success') or took >= limit:
            raise CheckFailed('stop: code/status/result %s after %.1f s (TimeoutStopSec %.0f s)' % (result, took, limit))
        return 'ended with status 0 in %.2f s (TimeoutStopSec=%.0fs)' % (took, limit)

    def session_end(self):
        userctl('start', UNIT)
        userctl('stop', SESSION_TARGET)
        wait_until(lambda: prop('ActiveState', 'graphical-session.target') == 'inactive' and
                   prop('ActiveState') == 'inactive', 'the session and the daemon ending', timeout=20)
        if daemon_pids():
            raise CheckFailed('daemons left: %s' % daemon_pids())
        return 'stopping %s stopped graphical-session.target and %s (status %s)' % (
            SESSION_TARGET, UNIT, prop('ExecMainStatus'))

    def autostart(self):
        userctl('daemon-reload')  # runs the generators again
        userctl('start', SESSION_TARGET)
        wait_until(lambda: prop('ActiveState') == 'active', UNIT + ' active')
        wait_until(lambda: prop('ActiveState', 'xdg-desktop-autostart.target') == 'active', 'the autostart target')
        generated = glob.glob('/run/user/%d/systemd/generator.late/app-*' % pwd.getpwnam(USER).pw_uid)
        names = [os.path.basename(g) for g in generated]
        ours = [n for n in names if 'appstore' in n]
        control = [n for n in names if 'control' in n]
        if ours or len(control) != 1:
            raise CheckFailed('units generated from the autostart entries: %s' % names)
        # The generator's unit of the control entry ran; no second daemon did.
        wait_until(lambda: prop('ExecMainStartTimestampMonotonic', control[0]) not in ('', '0'),
                   control[0] + ' started')
        time.sleep(1)
        pids = daemon_pids()
        if pids != [int(prop('MainPID'))]:
            raise CheckFailed('daemons %s, unit main pid %s' % (pids, prop('MainPID')))
        return 'the session started xdg-desktop-autostart.target and %s, nothing of ours: one daemon (pid %d)' % (
            control[0], pids[0])

    def notices(self):
        wait_until(lambda: name_owner_pid(), NAME)
        notifications(clear=True)
        for who, app in ((USER, 'Foo'), ('bob', 'Secret'), (USER, 'Bar')):
            self.store.EmitSignal(SYSTEM_DAEMON[2], 'sigSystemNotificationSent', 's',
                                  [json.dumps({'opt': 1, 'appName': app, 'packageName': app.lower(), 'logname': who})])
        calls = wait_until(lambda: len(notifications()) >= 2 and notifications(), 'two notifications', timeout=10)
        time.sleep(0.5)
        calls = notifications()
        texts = [' '.join(str(a) for a in c[2][:5]) for c in calls]
        if len(calls) != 2 or 'Foo' not in texts[0] or 'Bar' not in texts[1] or any('Secret' in t for t in texts):
            raise CheckFailed('notifications: %s' % texts)
        return 'two notices for %s shown (%s), the one for bob not' % (USER, ' | '.join(texts))

    # -- what outlives the daemon, and a lost system bus -------------------------

    def bottle_scope(self):
        '''A bottle script that sleeps survives a restart of the daemon, in a
        scope of its own. The installed daemon is made to start it by the
        preloaded stand-in of the slot's outside caller.'''
        package = 'sleeper'
        files = '/opt/apps/%s/files' % package
        os.makedirs(files, exist_ok=True)
        for path in ('/opt/apps', '/opt/apps/' + package, files):
            os.chmod(path, 0o755)
        pid_file, marker = '/tmp/orvane-check-sleeper.pid', '/tmp/orvane-check-invoked'
        for path in (pid_file, marker):
            if os.path.exists(path):
                os.unlink(path)
        with open(files + '/run.sh', 'w') as f:
            f.write('#!/bin/sh\necho $$ > %s\nexec sleep 600\n' % pid_file)
        os.chmod(files + '/run.sh', 0o755)
        dropin = '/etc/systemd/user/%s.d' % UNIT
        os.makedirs(dropin, exist_ok=True)
        with open(dropin + '/check-bottle.conf', 'w') as f:
            f.write('[Service]\nEnvironment=LD_PRELOAD=/check/invoke-install.so ORVANE_CHECK_INSTALLED=%s '
                    'ORVANE_CHECK_MARKER=%s\n' % (package, marker))
        sleeper = 0
        try:
            userctl('daemon-reload')
            userctl('restart', UNIT)
            wait_until(lambda: os.path.exists(pid_file) and open(pid_file).read().strip(), 'the bottle script',
                       timeout=15)
            sleeper = int(open(pid_file).read())
            scope = 'app-orvane\\x2dappstore-%s-%d.scope' % (package, sleeper)
            before = cgroup_of(sleeper).strip()
            first = int(prop('MainPID'))
            userctl('restart', UNIT)
            wait_until(lambda: prop('ActiveState') == 'active' and int(prop('MainPID')) not in (0, first),
                       UNIT + ' restarted')
            alive = os.path.exists('/proc/%d' % sleeper)
            after = cgroup_of(sleeper).strip() if alive else '(gone)'
            state = prop('ActiveState', scope)
            if not alive or '/' + scope not in before or '/' + scope not in after or state != 'active':
                raise CheckFailed('script pid %d: alive %s, cgroup before %s, after %s, %s %s' % (
                    sleeper, alive, before, after, scope, state))
            return 'script pid %d in %s (%s), alive after systemctl --user restart (daemon %d -> %d), scope %s' % (
                sleeper, scope, after, first, int(prop('MainPID')), state)
        finally:
            os.unlink(dropin + '/check-bottle.conf')
            userctl('daemon-reload', check=False)
            if sleeper and os.path.exists('/proc/%d' % sleeper):
                os.kill(sleeper, signal.SIGTERM)

    def system_bus_restart(self):
        '''The system bus daemon restarts: the daemon warns once, and the same
        process connects to the new bus and reports to the system daemon
        there; the unit is not restarted.'''
        import dbus.bus  # pylint: disable=import-outside-toplevel
        userctl('restart', UNIT)
        wait_until(lambda: prop('ActiveState') == 'active' and name_owner_pid(), UNIT + ' active')
        restarts, pid = int(prop('NRestarts')), int(prop('MainPID'))
        run(['systemctl', 'restart', 'dbus.service'], timeout=60)
        run(['systemctl', 'restart', 'orvane-check-appstore-daemon.service', 'orvane-check-lock-service.service'],
            timeout=60)
        store = dbus.Interface(dbus.bus.BusConnection('unix:path=/run/dbus/system_bus_socket').get_object(
            *SYSTEM_DAEMON[:2]), MOCK_IFACE)
        reports = wait_until(lambda: [c for c in proxy_reports(store) if c[0] == USER],
                             'a report on the new system bus', timeout=30)
        out = run(['journalctl', '--user', '-u', UNIT, '_PID=%d' % pid, '-o', 'cat', '--no-pager'], user=True,
                  check=False).stdout
        lines = [l for l in out.splitlines() if 'System bus' in l]
        if int(prop('MainPID')) != pid or int(prop('NRestarts')) != restarts or prop('ActiveState') != 'active' \
                or len([l for l in lines if 'System bus disconnected' in l]) != 1:
            raise CheckFailed('pid %d -> %s, restarts %d -> %s, lines of pid %d: %s' % (
                pid, prop('MainPID'), restarts, prop('NRestarts'), pid, lines))
        return 'pid %d: %s; the same process (NRestarts still %d) reported on the new bus: %s' % (
            pid, ' / '.join(l[-90:] for l in lines), restarts, reports[0])

    # -- packages ------------------------------------------------------------

    def upgrade(self):
        userctl('stop', SESSION_TARGET)
        version = installed_versions()[PACKAGES[0]][1]
        self.apt('install', '--reinstall', *self.debs)
        same = installed_versions()
        self.apt('install', *self.upgrade_debs)
        after = installed_versions()
        new = {v[1] for v in after.values()}
        if any(v != ['ii', version] for v in same.values()) or len(new) != 1 or new == {version} or \
                any(v[0] != 'ii' for v in after.values()):
            raise CheckFailed('same version again: %s; upgrade: %s' % (same, after))
        if not os.path.islink(ENABLE_LINK):
            raise CheckFailed('enablement link gone after the upgrade')
        run(['dpkg', '--compare-versions', new.pop(), 'gt', version])
        userctl('daemon-reload')
        userctl('start', SESSION_TARGET)
        wait_until(lambda: prop('ActiveState') == 'active', UNIT + ' active after the upgrade')
        userctl('stop', SESSION_TARGET)
        return '%s again, then %s; the unit is still enabled and starts with the session' % (
            version, after[PACKAGES[0]][1])

    def remove_purge(self):
        self.apt('remove', *PACKAGES)
        if os.path.exists(PROGRAM):
            raise CheckFailed(PROGRAM + ' left after remove')
        run(['dpkg', '--purge'] + PACKAGES, timeout=120)
        left = installed_versions()
        after = file_list()
        added, gone = sorted(after - self.before), sorted(self.before - after)
        userctl('daemon-reload')
        failed = userctl('list-units', '--failed', '--plain', '--no-legend', '--no-pager').stdout.strip()
        if added or gone or os.path.lexists(ENABLE_LINK) or failed or left:
            raise CheckFailed('after purge: new %s, gone %s, link %s, failed units %r, dpkg %s' % (
                added[:20], gone[:20], os.path.lexists(ENABLE_LINK), failed, left))
        return 'no file added or lost in /usr /etc /var (%d paths compared), enablement link gone, ' \
               'no failed user unit' % len(after)


def main():
    debs, upgrade_debs = sys.argv[1:3]
    signal.alarm(480)  # the whole run, whatever hangs
    checks = Checks(debs, upgrade_debs)
    if checks.check('setup', checks.setup):
        for name in ('session_starts', 'activation', 'start_waits_for_name', 'settings_store', 'journal',
                     'restart_on_crash', 'second_copy', 'stop', 'session_end', 'autostart', 'notices',
                     'bottle_scope', 'system_bus_restart', 'upgrade', 'remove_purge'):
            checks.check(name.replace('_', '-'), getattr(checks, name))
    with open(os.path.join(OUT, 'journal'), 'w') as f:
        subprocess.run(['journalctl', '-b', '--no-pager', '-o', 'short-monotonic'], stdout=f, timeout=30, check=False)
    with open(os.path.join(OUT, 'done'), 'w') as f:
        f.write('%d\n' % checks.failed)
    return 1 if checks.failed else 0


if __name__ == '__main__':
    if sys.argv[1:2] == ['--session-call']:
        session_call_main(sys.argv[2:])
    else:
        sys.exit(main())
