# SPDX-FileCopyrightText: 2026 Orvane
# SPDX-License-Identifier: GPL-3.0-or-later

'''What the notice tests share: the payloads of the system app-store daemon,
its stored notice date, and a control notice that proves a negative.'''
import json
import os
import pwd
import time

import dbus

from orvane_testlib import DaemonTestCase, WAIT, wait_until, SYSTEM_DAEMON_IFACE, SYSTEM_DAEMON_NAME, SYSTEM_DAEMON_PATH

# The daemon takes its login name from the C library, as this does.
USER = pwd.getpwuid(os.getuid()).pw_name
APP_NAME = 'orvane-app-store'
UPDATE_SUMMARY = 'App Updates are available'
UPDATE_HINT = {'x-orvane-action-show_detail': 'orvane-home-appstore-client,'
               'appstore://orvane-home-appstore-client?tab/update,--from,1e0ef2b9dac84d8b8bef12625170f82f'}


def notice(opt=None, app_name=None, package_name=None, logname=USER):
    payload = {}
    for key, value in (('opt', opt), ('appName', app_name), ('packageName', package_name), ('logname', logname)):
        if value is not None:
            payload[key] = value
    return json.dumps(payload)


def app(package, name, wayland=None):
    info = {'package_name': package, 'name': name, 'version': '2.0'}
    if wayland is not None:
        info['supportWayland'] = wayland
    return json.dumps(info)


def pkg_op_call(summary, icon):
    '''The eight Notify values of a package-operation notice.'''
    return [APP_NAME, 0, icon, summary, '', [], {}, 3000]


def update_call(body, summary=UPDATE_SUMMARY, view='View'):
    return [APP_NAME, 0, 'orvane-app-store', summary, body, ['show_detail', view], UPDATE_HINT, -1]


class NoticeTestCase(DaemonTestCase):
    '''Runs the daemon of an edition with system notices against a fake system
    daemon and a fake notification server.'''

    def start_peers(self, **system_daemon):
        self.system_daemon = self.start_system_daemon(**system_daemon)
        self.notifications = self.start_notification_server()
        self._controls = 0

    def start_noticing_daemon(self, edition=3, argv=None, **env):
        daemon = self.start_daemon(env=self.daemon_env(NUVIX_OS_RELEASE=self.edition_env(edition), **env), argv=argv)
        # The first proxy report is the last step of the daemon's start.
        self.system_daemon.wait_calls('SetSystemProxy', 1)
        return daemon

    def next_daemon(self, daemon, **kwargs):
        '''Stops daemon and starts another: a process that has shown the update
        notice shows no second one that day, whatever date is stored.'''
        self.assertEqual(daemon.stop(), 0)
        self.system_daemon.clear()
        return self.start_noticing_daemon(**kwargs)

    def send_notice(self, payload):
        self.system_daemon.emit(SYSTEM_DAEMON_IFACE, 'sigSystemNotificationSent', 's', [payload])

    def send_upgrades(self, infos):
        self.system_daemon.emit(SYSTEM_DAEMON_IFACE, 'sigLocalAppsUpgradeNotify', 'as',
                                [dbus.Array(infos, signature='s')])

    def notify_calls(self):
        return self.notifications.calls('Notify')

    def control(self, timeout=WAIT):
        '''Sends a notice that must be shown and waits for it: the daemon handles
        the system daemon's signals in order, so whatever an earlier signal was
        going to show has been sent by then. Returns the calls before it.'''
        self._controls += 1
        summary = '"control %d" installed successfully' % self._controls
        self.send_notice(notice(1, 'control %d' % self._controls))
        calls = wait_until(lambda: [c for c in self.notify_calls() if c[3] == summary] and self.notify_calls(),
                           timeout, 'control notice %d' % self._controls)
        self.assertEqual(calls[-1], pkg_op_call(summary, 'package-install-succeed'))
        return calls[:-1]

    def store_notice_date(self, date):
        '''Plays another client of the system daemon, then forgets all recorded calls.'''
        store = dbus.Interface(self.system_bus.get_object(SYSTEM_DAEMON_NAME, SYSTEM_DAEMON_PATH), SYSTEM_DAEMON_IFACE)
        store.SetConfigByNodeName('upgradeNoticeTime', date)
        self.forget()

    def forget(self):
        self.system_daemon.clear()
        self.notifications.clear()

    def set_upgrade_check(self, value):
        props = dbus.Interface(self.system_bus.get_object(SYSTEM_DAEMON_NAME, SYSTEM_DAEMON_PATH),
                               'org.freedesktop.DBus.Properties')
        props.Set(SYSTEM_DAEMON_IFACE, 'LocalUpgradeCheckStatus', dbus.Boolean(value))

    def assert_today(self, date, before):
        '''date is today's in the form yyyyMMdd; before is the date taken before
        the daemon could have read its clock (a test may run across midnight).'''
        self.assertIn(date, {before, time.strftime('%Y%m%d')})
