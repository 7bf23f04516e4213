# SPDX-FileCopyrightText: 2026 Orvane
# SPDX-License-Identifier: GPL-3.0-or-later

'''The scenario of scripts/demo: starts the fakes and the daemon in the
sandbox that run-with-buses made, shows it handling a few events, then leaves
it running until Ctrl-C. With --picture FILE a real notification server, dunst
on a virtual X display, draws the notices, and the scenario ends with a PNG of
that display in FILE.'''
import argparse
import json
import os
import pwd
import signal
import subprocess
import sys
import time

import dbus

from orvane_testlib import (bus, wait_until, name_has_owner, TEMPLATES, TMPDIR, SESSION_NAME,
                            SYSTEM_DAEMON_NAME, SYSTEM_DAEMON_PATH, SYSTEM_DAEMON_IFACE, LOCK_NAME, LOCK_PATH,
                            MOCK_IFACE)

ME = pwd.getpwuid(os.getuid()).pw_name
children = []


def say(text):
    print('\033[1mdemo:\033[0m ' + text, flush=True)


def start(argv, **kwargs):
    # Ctrl-C is for the daemon; the fakes are ended once it has gone.
    proc = subprocess.Popen(argv, preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_IGN), **kwargs)
    children.append(proc)
    return proc


def fake(args, name, path, system, label):
    # The fakes print every call they receive, prefixed with a time stamp.
    start([sys.executable, '-m', 'dbusmock'] + args)
    connection = bus(system)
    wait_until(lambda: name_has_owner(connection, name), message=name)
    say('%s is up as %s' % (label, name))
    return dbus.Interface(connection.get_object(name, path), MOCK_IFACE)


def notification_server(picture):
    '''The fake that prints every call, or for a picture dunst drawing on an
    Xvfb display; returns the display (None for the fake).'''
    if not picture:
        fake(['--template', 'notification_daemon'], 'org.freedesktop.Notifications',
             '/org/freedesktop/Notifications', False, 'fake notification server')
        return None
    read, write = os.pipe()
    start(['Xvfb', '-displayfd', str(write), '-nolisten', 'tcp', '-screen', '0', '800x480x24', '-br'],
          pass_fds=[write], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write)
    with os.fdopen(read) as f:
        display = f.readline().strip()
    if not display:
        sys.exit('demo: Xvfb gave no display')
    display = ':' + display
    # Every notice stays on the screen until the picture is taken, the one
    # that asks for a few seconds only too; dunst's own log goes to a file.
    config = os.path.join(TMPDIR, 'dunstrc')
    with open(config, 'w') as f:
        f.write('[global]\n    font = DejaVu Sans 11\n    width = 380\n    offset = 10x10\n'
                '    markup = full\n    format = "<b>%s</b>\\n%b"\n\n'
                '[hold]\n    appname = "*"\n    override_dbus_timeout = 0\n    timeout = 0\n')
    log = open(os.path.join(TMPDIR, 'dunst.log'), 'wb')
    start(['dunst', '-conf', config], env=dict(os.environ, DISPLAY=display), stdout=log, stderr=subprocess.STDOUT)
    log.close()
    wait_until(lambda: name_has_owner(bus(False), 'org.freedesktop.Notifications'), message='dunst')
    say('dunst is up as org.freedesktop.Notifications, drawing on the X display %s' % display)
    return display


def displayed():
    out = subprocess.run(['dunstctl', 'count', 'displayed'], capture_output=True, text=True)
    return int(out.stdout.strip()) if out.returncode == 0 and out.stdout.strip().isdigit() else 0


def take_picture(display, path, notices):
    '''Writes a PNG of what the display shows, cut to the notices, once dunst
    shows them all.'''
    wait_until(lambda: displayed() >= notices, message='%d notices on the screen' % notices)
    time.sleep(0.5)  # the last one drawn, not only counted
    shot = subprocess.run(['xwd', '-root', '-silent', '-display', display], check=True, capture_output=True,
                          timeout=30).stdout
    # The root is black: trimming leaves the notices, with a margin put back.
    subprocess.run(['convert', 'xwd:-', '-trim', '+repage', '-bordercolor', 'black', '-border', '10',
                    '-strip', 'png:' + path], input=shot, check=True, timeout=30)
    say('wrote what dunst shows to %s' % path)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--plugin', action='store_true')
    parser.add_argument('--picture', metavar='FILE')
    options = parser.parse_args()
    plugin = options.plugin
    signal.signal(signal.SIGINT, lambda *_: None)  # the children see Ctrl-C themselves

    system_daemon = fake(['--template', os.path.join(TEMPLATES, 'appstore_daemon.py')],
                         SYSTEM_DAEMON_NAME, SYSTEM_DAEMON_PATH, True, 'fake system app-store daemon')
    fake(['--template', os.path.join(TEMPLATES, 'lock_service.py')], LOCK_NAME, LOCK_PATH, True, 'fake lock service')
    display = notification_server(options.picture)

    release = os.path.join(TMPDIR, 'os-release')
    with open(release, 'w') as f:
        f.write('NUVIX_EDITION_TYPE=3\n')
    env = dict(os.environ, NUVIX_OS_RELEASE=release)
    if plugin:
        say('starting the daemon as a plugin inside appstore-plugin-host')
        daemon = subprocess.Popen([os.environ['ORVANE_PLUGIN_HOST'], os.environ['ORVANE_PLUGIN']], env=env,
                                  stdin=subprocess.PIPE, text=True)
        daemon.stdin.write('register\n')
        daemon.stdin.flush()
    else:
        say('starting orvane-appstore-session-daemon')
        daemon = subprocess.Popen([os.environ['ORVANE_DAEMON']], env=env)
    session = bus(False)
    wait_until(lambda: name_has_owner(session, SESSION_NAME), message='the daemon')
    time.sleep(0.5)

    say('the system daemon reports that "Foo" was installed for %s' % ME)
    system_daemon.EmitSignal(SYSTEM_DAEMON_IFACE, 'sigSystemNotificationSent', 's',
                             [json.dumps({'opt': 1, 'appName': 'Foo', 'packageName': 'foo', 'logname': ME})])
    time.sleep(0.5)
    say('... and a notice meant for another user, which nobody here sees')
    system_daemon.EmitSignal(SYSTEM_DAEMON_IFACE, 'sigSystemNotificationSent', 's',
                             [json.dumps({'opt': 1, 'appName': 'Secret', 'packageName': 'x', 'logname': 'bob'})])
    time.sleep(0.5)
    say('four apps have updates: one daily notice with a View action')
    infos = [json.dumps({'package_name': 'p%d' % i, 'name': 'App %d' % i}) for i in range(1, 5)]
    system_daemon.EmitSignal(SYSTEM_DAEMON_IFACE, 'sigLocalAppsUpgradeNotify', 'as', [infos])
    time.sleep(0.5)
    say('the same list again today: no second notice')
    system_daemon.EmitSignal(SYSTEM_DAEMON_IFACE, 'sigLocalAppsUpgradeNotify', 'as', [infos])
    time.sleep(0.5)
    say('the user sets a manual HTTP proxy: the environment goes to the system daemon')
    base = 'com.orvane.wrap.gnome.system.proxy'
    for args in ((base + '.http', 'host', 'proxy.example'), (base + '.http', 'port', '3128'), (base, 'mode', 'manual')):
        subprocess.run(['gsettings', 'set'] + list(args), check=True)
    time.sleep(1)
    failed = None
    if options.picture:
        try:
            take_picture(display, options.picture, 2)
        except (AssertionError, subprocess.SubprocessError, OSError) as e:
            failed = 'no picture: %s' % e
        daemon.send_signal(signal.SIGTERM)
    else:
        say('the daemon keeps running; try e.g.\n'
            '  gsettings set %s mode none\n'
            'from another terminal with the addresses below, or press Ctrl-C to end.\n'
            '  DBUS_SESSION_BUS_ADDRESS=%s\n  DBUS_SYSTEM_BUS_ADDRESS=%s\n'
            '  XDG_CONFIG_HOME=%s GSETTINGS_BACKEND=keyfile GSETTINGS_SCHEMA_DIR=%s'
            % (base, os.environ['DBUS_SESSION_BUS_ADDRESS'], os.environ['DBUS_SYSTEM_BUS_ADDRESS'],
               os.environ['XDG_CONFIG_HOME'], os.environ['GSETTINGS_SCHEMA_DIR']))
    daemon.wait()
    say('daemon ended with status %d' % daemon.returncode)
    for child in children:
        if child.poll() is None:
            child.terminate()
    for child in children:
        child.wait()
    if failed:
        sys.exit('demo: ' + failed)


if __name__ == '__main__':
    main()
