# SPDX-FileCopyrightText: 2026 Orvane
# SPDX-License-Identifier: GPL-3.0-or-later

'''Package-operation notices: the system daemon's payloads as the notification
server receives them, who gets to see them, and their translation.'''
import os
import subprocess
import unittest

import dbus
import dbus.lowlevel

from orvane_testlib import HARNESS_DIR, SYSTEM_DAEMON_IFACE, SYSTEM_DAEMON_PATH, needs
from notice_case import NoticeTestCase, USER, app, notice, pkg_op_call, update_call

OUTCOMES = [
    # opt, appName, packageName, summary, icon
    (1, 'Foo', 'foo', '"Foo" installed successfully', 'package-install-succeed'),
    (2, 'Foo', 'foo', 'Failed to install "Foo"', 'package-install-failed'),
    (3, 'Foo', 'foo', '"Foo" updated successfully', 'package-updated-succeed'),
    (3, None, 'foo', '"" updated successfully', 'package-updated-succeed'),
    (4, 'Foo', 'foo', 'Failed to update "Foo"', 'package-updated-failed'),
    (5, 'Foo', 'foo', 'Foo removed successfully', 'application-default-icon'),
    (5, '', 'foo', 'foo removed successfully', 'application-default-icon'),
    (6, 'Foo', 'foo', 'Failed to remove the app', 'application-default-icon'),
    (7, 'Foo', 'foo', '"Foo" new version available', ''),
    (8, 'Foo', 'foo', '', ''),
    (-1, 'Foo', 'foo', '', ''),
    # placeholders in a name are not expanded again
    (1, '%1 %2', 'foo', '"%1 %2" installed successfully', 'package-install-succeed'),
]


class PackageOperationNoticeTest(NoticeTestCase):
    def setUp(self):
        super().setUp()
        self.start_peers()
        self.daemon = self.start_noticing_daemon()

    def test_each_outcome_reaches_the_server(self):
        for opt, app_name, package_name, summary, icon in OUTCOMES:
            with self.subTest(opt=opt, appName=app_name):
                self.notifications.clear()
                self.send_notice(notice(opt, app_name, package_name))
                self.assertEqual(self.notifications.wait_calls('Notify', 1), [pkg_op_call(summary, icon)])

    def test_dropped_payloads_show_nothing_and_log_nothing(self):
        dropped = [
            notice(0, 'Foo', 'foo'),                 # OptNone with names for this user
            notice(1, 'Foo', 'foo', 'someone-else'),
            notice(1, 'Foo', 'foo', USER.upper()),
            notice(1, 'Foo', 'foo', logname=None),   # for nobody in particular
            notice('1', 'Foo', 'foo'),               # "opt" that is not a number reads as 0
            '{}',
            '',
            'not json',
            '{"opt": 1, "appName": "Foo", "logname": "%s"' % USER,
            '[{"opt": 1, "appName": "Foo", "logname": "%s"}]' % USER,
            '"text"',
            '42',
            'null',
        ]
        lines = len(self.daemon.lines())
        for payload in dropped:
            self.send_notice(payload)
        # Signals whose arguments differ from the contract's.
        self.system_daemon.emit(SYSTEM_DAEMON_IFACE, 'sigSystemNotificationSent', 'ss', [notice(1, 'Foo', 'foo'), 'x'])
        self.system_daemon.emit(SYSTEM_DAEMON_IFACE, 'sigLocalAppsUpgradeNotify', 'ass',
                                [dbus.Array([app('foo', 'Foo')], signature='s'), 'x'])
        self.assertEqual(self.control(), [])
        self.assertEqual(self.daemon.lines()[lines:], [])
        self.assertIsNone(self.daemon.proc.poll())

    def test_payload_past_its_bound_dropped_with_one_warning(self):
        # Notices are read up to 64 KiB; past that one is refused unread, and
        # said so once, with the payload cut.
        def padded(size):
            text = notice(1, 'Foo', 'foo')[:-1] + ', "pad": ""}'
            return text[:-2] + 'x' * (size - len(text)) + '"}'
        self.send_notice(padded(65537))
        self.send_notice(padded(65536))
        self.assertEqual(self.notifications.wait_calls('Notify', 1),
                         [pkg_op_call('"Foo" installed successfully', 'package-install-succeed')])
        warnings = self.daemon.lines(r'\] System notice dropped: "longer than 65536 bytes" ')
        self.assertEqual(len(warnings), 1, self.daemon.text()[-3000:])
        self.assertLess(len(warnings[0]), 1000)

    def test_signal_of_another_sender_is_ignored(self):
        payload = notice(1, 'Forged', 'forged')
        # The same path, interface and member from connections that do not own
        # the system daemon's name: dbus-send, and a connection of our own.
        subprocess.run(['dbus-send', '--system', '--type=signal', SYSTEM_DAEMON_PATH,
                        SYSTEM_DAEMON_IFACE + '.sigSystemNotificationSent', 'string:' + payload], check=True)
        other = dbus.bus.BusConnection(os.environ['DBUS_SYSTEM_BUS_ADDRESS'])
        message = dbus.lowlevel.SignalMessage(SYSTEM_DAEMON_PATH, SYSTEM_DAEMON_IFACE, 'sigSystemNotificationSent')
        message.append(payload, signature='s')
        other.send_message(message)
        other.flush()
        # The owner's identical signal is shown, once.
        self.send_notice(payload)
        forged = pkg_op_call('"Forged" installed successfully', 'package-install-succeed')
        self.assertEqual(self.control(), [forged])
        other.close()


class EditionTest(NoticeTestCase):
    def test_other_edition_shows_no_system_notice(self):
        self.start_peers()
        self.start_noticing_daemon(edition=2)
        self.send_notice(notice(1, 'Foo', 'foo'))
        # Upgrade notices do not depend on the edition: one serves as the control.
        self.send_upgrades([app('bar', 'Bar')])
        self.assertEqual(self.notifications.wait_calls('Notify', 1), [update_call('1 app: Bar')])


@needs('unshare')
class TranslatedNoticeTest(NoticeTestCase):
    '''The German test catalogue, grafted at the client's fixed path.'''

    def test_texts_translated_names_and_log_not(self):
        self.start_peers()
        graft = [os.path.join(HARNESS_DIR, 'graft'), '/usr/share', 'orvane-home-appstore-client',
                 os.environ['ORVANE_TEST_CLIENT_DIR'], '--', os.environ['ORVANE_DAEMON']]
        daemon = self.start_noticing_daemon(argv=graft, LC_ALL='de_DE.UTF-8', LANG='de_DE.UTF-8')

        for opt, app_name, summary, icon in [
                (1, 'Foo', '"Foo" erfolgreich installiert', 'package-install-succeed'),
                (5, '', 'foo erfolgreich entfernt', 'application-default-icon'),
                (6, 'Foo', 'Entfernen der App fehlgeschlagen', 'application-default-icon'),
                (7, 'Foo', 'Neue Version von "Foo" verfügbar', '')]:
            with self.subTest(opt=opt):
                self.notifications.clear()
                self.send_notice(notice(opt, app_name, 'foo'))
                self.assertEqual(self.notifications.wait_calls('Notify', 1), [pkg_op_call(summary, icon)])

        german = 'App-Aktualisierungen sind verfügbar'
        # Plural and singular; a process shows one update notice a day, so each
        # body needs a process of its own.
        for names, body in [(['A', 'B', 'C', 'D', 'E'], '5 Apps: A, B, C...'),
                            (['A'], '1 App: A')]:
            with self.subTest(body=body):
                if names != ['A', 'B', 'C', 'D', 'E']:
                    daemon = self.next_daemon(daemon, argv=graft, LC_ALL='de_DE.UTF-8', LANG='de_DE.UTF-8')
                self.store_notice_date('19990101')
                self.send_upgrades([app(n.lower(), n) for n in names])
                self.assertEqual(self.notifications.wait_calls('Notify', 1),
                                 [update_call(body, summary=german, view='Anzeigen')])
                self.system_daemon.wait_calls('SetConfigByNodeName', 1)
                daemon.wait_log(r'\] LocalUpgradeCheckStatus: false$')
                daemon.wait_log(r'\] "Last notify date: 19990101, current date: \d{8}"$')


if __name__ == '__main__':
    unittest.main()
