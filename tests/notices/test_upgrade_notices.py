# SPDX-FileCopyrightText: 2026 Orvane
# SPDX-License-Identifier: GPL-3.0-or-later

'''The daily update notice: its values and body, the filters, the user's and
the system daemon's switches, and the stored date of the last notice.'''
import json
import os
import signal
import subprocess
import time
import unittest
import xml.etree.ElementTree

from orvane_testlib import Fake, TEMPLATES, TMPDIR, wait_until
from notice_case import NoticeTestCase, app, notice, pkg_op_call, update_call

SCHEMA = 'com.orvane.kesh.app-store'
A, B, C, D, E = (app('pkg-%s' % n.lower(), n) for n in 'ABCDE')


class UpgradeNoticeTest(NoticeTestCase):
    def setUp(self):
        super().setUp()
        self.today = time.strftime('%Y%m%d')

    def expect_notice(self, body):
        '''One notice with body went out, and today's date was stored after it.'''
        self.assertEqual(self.notifications.wait_calls('Notify', 1), [update_call(body)])
        stored = self.system_daemon.wait_calls('SetConfigByNodeName', 1)
        self.assertEqual(len(stored), 1)
        self.assertEqual(stored[0][0], 'upgradeNoticeTime')
        self.assert_today(stored[0][1], self.today)
        self.assertEqual(self.system_daemon.calls('GetConfigByNodeName'), [['upgradeNoticeTime']])
        self.forget()

    def expect_silence(self, date_read=True):
        self.assertEqual(self.control(), [])
        self.assertEqual(self.system_daemon.calls('SetConfigByNodeName'), [])
        self.assertEqual(len(self.system_daemon.calls('GetConfigByNodeName')), 1 if date_read else 0)
        self.forget()

    def test_values_body_and_daily_cap(self):
        self.start_peers()
        self.gsettings('set', SCHEMA, 'update-apps-not-notify', 'true')
        daemon = self.start_noticing_daemon()

        # Switched off: the date is read, nothing is shown or stored.
        self.send_upgrades([A])
        self.expect_silence()

        # Switched on from another process: read afresh for the next list.
        self.gsettings('set', SCHEMA, 'update-apps-not-notify', 'false')
        wait_until(lambda: self.send_upgrades([A]) or self.notify_calls(), message='notice after switching on')
        # The lists sent after that one find today's date stored.
        self.assertEqual(self.control(), [update_call('1 app: A')])
        self.system_daemon.wait_calls('SetConfigByNodeName', 1)

        rows = [
            ([A], '1 app: A'),
            ([A, B], '2 apps: A, B'),
            ([A, B, C], '3 apps: A, B, C'),
            ([A, B, C, D], '4 apps: A, B, C...'),
            ([A, B, C, D, E], '5 apps: A, B, C...'),
            # not in a Wayland session, so an app without Wayland support counts
            ([app('w', 'W', wayland=1), app('x', 'X', wayland=0), app('y', 'Y')], '3 apps: W, X, Y'),
            # an element that is no JSON object is an app without a name
            (['not json', A], '2 apps: , A'),
        ]
        for infos, body in rows:
            with self.subTest(body=body):
                daemon = self.next_daemon(daemon)
                self.store_notice_date('19990101')
                self.send_upgrades(infos)
                self.expect_notice(body)

        # Once a day: today's date is stored now.
        daemon = self.next_daemon(daemon)
        self.forget()
        self.send_upgrades([A])
        self.expect_silence()
        daemon.wait_log(r'\] "Last notify date: (\d{8}), current date: \1"$')

        for stored in ('20991231', 'garbage'):
            with self.subTest(stored=stored):
                daemon = self.next_daemon(daemon)
                self.store_notice_date(stored)
                self.send_upgrades([B])
                self.expect_notice('1 app: B')
                # The date this process stores is unreadable again: its own
                # notice holds the day, and the store is not even asked.
                self.store_notice_date(stored)
                self.send_upgrades([B])
                self.expect_silence(date_read=False)
        daemon.wait_log(r'\] "Last notify date: , current date: \d{8}"$', count=1)

        # An empty list is not even worth asking the system daemon about.
        self.store_notice_date('19990101')
        flag_reads = len(daemon.lines('LocalUpgradeCheckStatus:'))
        self.send_upgrades([])
        self.expect_silence(date_read=False)
        self.assertEqual(len(daemon.lines('LocalUpgradeCheckStatus:')), flag_reads)

    def test_ignore_list_follows_the_setting(self):
        self.start_peers()
        self.gsettings('set', SCHEMA, 'apps-ignore-updates', "['pkg-b']")
        daemon = self.start_noticing_daemon()
        # Only B: ignored, so nothing is shown and the day stays open.
        self.send_upgrades([B])
        self.expect_silence()

        # Changed by another process while the daemon runs: B is announced
        # once the change has arrived.
        self.gsettings('set', SCHEMA, 'apps-ignore-updates', "['pkg-a', 'pkg-c']")
        wait_until(lambda: self.send_upgrades([B]) or self.notify_calls(), message='the new ignore list')
        self.assertEqual(self.control(), [update_call('1 app: B')])

        # Whole names, case-sensitive.
        daemon = self.next_daemon(daemon)
        self.store_notice_date('19990101')
        self.send_upgrades([A, C, app('pkg-a2', 'A2'), app('PKG-A', 'A3'), app('pkg', 'A4')])
        self.expect_notice('3 apps: A2, A3, A4')

        # Nothing left to announce: nothing shown, no date stored.
        self.next_daemon(daemon)
        self.store_notice_date('19990101')
        self.send_upgrades([A, C])
        self.expect_silence()

    def test_wayland_session_announces_only_wayland_apps(self):
        self.start_peers()
        self.start_noticing_daemon(XDG_SESSION_TYPE='wayland')
        self.send_upgrades([app('b', 'B'), app('c', 'C', wayland=2)])
        self.expect_silence()

        self.send_upgrades([app('a', 'A', wayland=1), app('b', 'B'), app('c', 'C', wayland=0),
                            app('d', 'D', wayland='1'), 'not json', app('e', 'E', wayland=1)])
        self.expect_notice('2 apps: A, E')

    def test_system_daemon_checking_holds_the_notice(self):
        for kind in ('boolean', 'string'):
            with self.subTest(type=kind):
                self.start_peers(upgrade_check=True, upgrade_check_type=kind)
                daemon = self.start_noticing_daemon()
                self.send_upgrades([A])
                self.expect_silence(date_read=False)
                daemon.wait_log(r'\] LocalUpgradeCheckStatus: true$')
                self.assertEqual(daemon.stop(), 0)
                self.stop_fake(self.notifications)
                self.stop_fake(self.system_daemon)

    def test_flag_is_read_for_each_list(self):
        self.start_peers(upgrade_check=True)
        daemon = self.start_noticing_daemon()
        self.send_upgrades([A])
        self.expect_silence(date_read=False)
        self.set_upgrade_check(False)
        self.send_upgrades([A])
        self.expect_notice('1 app: A')
        daemon.wait_log(r'\] LocalUpgradeCheckStatus: false$')

    def test_daily_cap_holds_across_a_restart(self):
        self.start_peers()
        first = self.start_noticing_daemon()
        self.send_upgrades([A])
        self.expect_notice('1 app: A')
        self.assertEqual(first.stop(), 0)

        second = self.start_noticing_daemon()
        self.send_upgrades([A, B])
        self.expect_silence()
        second.wait_log(r'\] "Last notify date: (\d{8}), current date: \1"$')

    def test_unreadable_date_lets_one_notice_out_a_day(self):
        cases = [
            # name, fake, pattern of the warning per list (None: no warning)
            ('error reply', {'config_error': True}, r'"node store unavailable"$'),
            ('reply without a value', {'config_empty_reply': True}, None),
            ('answer past its bound', {'config': {'upgradeNoticeTime': '2' * 65}},
             r'"answer longer than 64 characters" "2{65}"$'),
        ]
        for name, fake, warning in cases:
            with self.subTest(name):
                self.start_peers(**fake)
                try:
                    self.check_one_notice_a_day(warning)
                finally:
                    self.stop_row()

    def stop_row(self):
        # A failed row must not leave its peers to the next one.
        for daemon in self._daemons:
            if daemon.proc.poll() is None:
                daemon.stop()
        self.stop_fake(self.notifications)
        self.stop_fake(self.system_daemon)

    def check_one_notice_a_day(self, warning):
        daemon = self.start_noticing_daemon()
        self.send_upgrades([A])
        self.assertEqual(self.notifications.wait_calls('Notify', 1), [update_call('1 app: A')])
        self.forget()
        # The date is still unreadable: the notice this process showed holds
        # the day, without asking the system daemon again.
        self.send_upgrades([A, B])
        self.assertEqual(self.control(), [])
        self.assertEqual(self.system_daemon.calls('Get'), [])
        self.assertEqual(self.system_daemon.calls('GetConfigByNodeName'), [])
        warnings = daemon.lines(r'\[Warning\].*\] GetConfigByNodeName upgradeNoticeTime failed: ')
        self.assertEqual(len(warnings), 1 if warning else 0, daemon.text())
        for line in warnings:
            self.assertRegex(line, warning)
        self.assertEqual(len(daemon.lines(r'\] "Last notify date: 19700101, current date: \d{8}"$')), 1,
                         daemon.text())
        self.assertEqual(daemon.stop(), 0)

    def test_store_too_slow_or_date_wrapped(self):
        today = self.today
        hung = ['Get', 'GetConfigByNodeName', 'SetConfigByNodeName']
        flag_late = r'System daemon does not answer LocalUpgradeCheckStatus in time, upgrade list dropped$'
        date_late = r'System daemon does not answer GetConfigByNodeName upgradeNoticeTime in time, upgrade list dropped$'
        rows = [
            # name, fake, stored date, notice shown, date reads, warning of the time-out
            ('date in a variant, today', {'config_variant': True}, today, False, 1, None),
            ('date in a variant, earlier', {'config_variant': True}, '19990101', True, 1, None),
            # A store that answers after the bounded wait: nothing is known,
            # so nothing is shown and no date is written; the next list tries.
            ('late flag read', {'delay': {'Get': 3}}, '19990101', False, 0, flag_late),
            ('late date read', {'delay': {'GetConfigByNodeName': 3}}, today, False, 1, date_late),
            ('late date read, earlier date', {'delay': {'GetConfigByNodeName': 3}}, '19990101', False, 1, date_late),
            # Each read within its own bound: slow is not dead.
            ('each read slow but in time', {'delay': {'Get': 1.05, 'GetConfigByNodeName': 1.05}}, '19990101', True,
             1, None),
            # The date is not asked of a store that let the flag read time out.
            ('hung store', {'hang': hung}, '19990101', False, 0, flag_late),
            ('hung date read', {'hang': ['GetConfigByNodeName']}, '19990101', False, 1, date_late),
        ]
        for name, fake, stored, shown, reads, warning in rows:
            with self.subTest(name):
                self.start_peers(config={'upgradeNoticeTime': stored}, **fake)
                try:
                    daemon = self.start_noticing_daemon()
                    start = time.monotonic()
                    self.send_upgrades([A])
                    if shown:
                        self.expect_notice('1 app: A')
                    else:
                        self.expect_silence(date_read=bool(reads))
                    print('%s: list handled in %.2f s, notice %s' % (name, time.monotonic() - start,
                                                                     'shown' if shown else 'not shown'), flush=True)
                    dropped = daemon.lines(r'\[Warning\].*System daemon does not answer')
                    self.assertEqual(len(dropped), 1 if warning else 0, daemon.text())
                    for line in dropped:
                        self.assertRegex(line, warning)
                finally:
                    self.stop_row()

    def test_lists_past_their_bounds(self):
        # A list names at most 10,000 apps and each entry is read up to
        # 64 KiB: a longer list is dropped unread, a longer entry reads as one
        # that does not parse. Each says so in one warning.
        self.start_peers()
        daemon = self.start_noticing_daemon()
        long_entry = app('big', 'Big')[:-1] + ', "pad": "%s"}' % ('x' * 65536)
        self.send_upgrades([A] * 10001)
        self.expect_silence(date_read=False)
        self.assertEqual(len(daemon.lines(r'\] Upgrade list dropped: 10001 entries, more than 10000$')), 1)
        self.send_upgrades([A, long_entry, long_entry])
        self.expect_notice('3 apps: A, , ')
        warnings = daemon.lines(r'\] Upgrade list entries 2 read as empty: "longer than 65536 bytes" "\{')
        self.assertEqual(len(warnings), 1, daemon.text()[-3000:])
        self.assertLess(len(warnings[0]), 1000)

    def test_system_daemon_started_after_the_session_daemon(self):
        self.notifications = self.start_notification_server()
        daemon = self.start_daemon(env=self.daemon_env(NUVIX_OS_RELEASE=self.edition_env(3)))
        daemon.wait_log(r'System Proxy:')
        self.system_daemon = self.start_system_daemon(upgrade_check=True)
        self._controls = 0
        # The daemon repeats its proxy report to a new owner: it has seen this one.
        self.system_daemon.wait_calls('SetSystemProxy', 1)
        self.send_upgrades([A])
        self.expect_silence(date_read=False)
        daemon.wait_log(r'\] LocalUpgradeCheckStatus: true$')

        self.set_upgrade_check(False)
        self.send_upgrades([A])
        self.expect_notice('1 app: A')


# Names that are markup, or break it, when a body is read as markup.
MARKUP_NAMES = [app('bold', '<b>Bold</b>'), app('amp', 'Salt & Pepper'), app('link', '<a href="x">L</a>')]
MARKUP_PLAIN = '3 apps: <b>Bold</b>, Salt & Pepper, <a href="x">L</a>'
MARKUP_ESCAPED = '3 apps: &lt;b&gt;Bold&lt;/b&gt;, Salt &amp; Pepper, &lt;a href="x"&gt;L&lt;/a&gt;'
# Fullwidth look-alikes: text for a server that reads markup, and for one that does not.
MARKUP_LOOKALIKE = MARKUP_PLAIN.translate({ord('<'): '\uff1c', ord('>'): '\uff1e', ord('&'): '\uff06'})


class BodyMarkupTest(NoticeTestCase):
    '''App names in the update notice body, as servers that do and do not read
    bodies as markup receive them. Summaries are plain text for every server.'''

    def start_server(self, capabilities, **parameters):
        fake = Fake(['--template', os.path.join(TEMPLATES, 'notification_server.py'),
                     '-p', json.dumps(dict(parameters, capabilities=capabilities))],
                    'org.freedesktop.Notifications', '/org/freedesktop/Notifications', False,
                    'notification-fake.log')
        self._fakes.append(fake)
        return fake

    def check_held_notices(self, name, body):
        daemon = self.start_noticing_daemon()
        # Nothing to show yet: the server is not asked (nor woken).
        self.settle()
        asked_at_start = len(self.notifications.calls('GetCapabilities'))
        self.store_notice_date('19990101')
        start = time.monotonic()
        # Held until the answer (or for a bounded while), in order.
        self.send_notice(notice(1, 'first'))
        self.send_upgrades(MARKUP_NAMES)
        self.send_notice(notice(1, 'last'))
        calls = self.notifications.wait_calls('Notify', 3)
        took = time.monotonic() - start
        print('%s: asked at start %d time(s); three notices sent %.2f s after the first was due; body %r'
              % (name, asked_at_start, took, calls[1][4] if len(calls) > 1 else None), flush=True)
        self.assertEqual(calls, [pkg_op_call('"first" installed successfully', 'package-install-succeed'),
                                 update_call(body),
                                 pkg_op_call('"last" installed successfully', 'package-install-succeed')])
        self.assertEqual(asked_at_start, 0)
        self.assertEqual(len(self.notifications.calls('GetCapabilities')), 1)
        # Held for the server's answer or a bounded 2 s, never for the bus's
        # 25 s call time-out; the time itself is printed above.
        self.assertLess(took, 15.0)
        self.assertEqual(daemon.stop(), 0)

    def test_names_escaped_only_for_a_markup_server(self):
        self.system_daemon = self.start_system_daemon()
        self._controls = 0
        rows = [
            # name, server's parameters, body; a server that does not answer
            # gets no markup character at all
            ('markup server', {'capabilities': 'body body-markup actions'}, MARKUP_ESCAPED),
            ('plain server', {'capabilities': 'body actions'}, MARKUP_PLAIN),
            ('server that does not say', {'capabilities': 'body body-markup', 'hang': ['GetCapabilities']},
             MARKUP_LOOKALIKE),
        ]
        for name, parameters, body in rows:
            with self.subTest(name):
                self.notifications = self.start_server(**parameters)
                try:
                    self.check_held_notices(name, body)
                finally:
                    for daemon in self._daemons:
                        if daemon.proc.poll() is None:
                            daemon.stop()
                    self.stop_fake(self.notifications)
                    self.system_daemon.clear()

        # A new server is asked again: from plain to markup while the daemon runs.
        self.notifications = self.start_server('body')
        self.start_noticing_daemon()
        self.send_notice(notice(1, 'plain'))
        self.notifications.wait_calls('Notify', 1)
        self.assertEqual(len(self.notifications.calls('GetCapabilities')), 1)
        self.stop_fake(self.notifications)
        self.notifications = self.start_server('body-markup')
        self.settle()
        self.store_notice_date('19990101')
        self.send_upgrades(MARKUP_NAMES)
        self.assertEqual(self.notifications.wait_calls('Notify', 1), [update_call(MARKUP_ESCAPED)])
        self.assertEqual(len(self.notifications.calls('GetCapabilities')), 1)


    def test_held_notices_go_out_at_stop(self):
        '''Notices held for a server that never says what it reads, and a stop
        within the wait: what the stop lets the daemon do goes out, the
        names without markup characters, and the day is stored only then.'''
        today = time.strftime('%Y%m%d')
        rows = [
            # signal, exit status, notices shown (and the day stored)
            (signal.SIGTERM, 0, True),
            (signal.SIGINT, 0, True),
            # nothing runs after SIGKILL: the day stays open for a later start
            (signal.SIGKILL, -signal.SIGKILL, False),
        ]
        self.system_daemon = self.start_system_daemon()
        self._controls = 0
        for sig, status, shown in rows:
            with self.subTest(sig.name):
                self.notifications = self.start_server('body body-markup', hang=['GetCapabilities'])
                try:
                    daemon = self.start_noticing_daemon()
                    self.store_notice_date('19990101')
                    self.send_notice(notice(1, 'first'))
                    self.send_upgrades(MARKUP_NAMES)
                    # Both handled (the list after the notice) and held.
                    daemon.wait_log(r'\] "Last notify date: 19990101, current date: \d{8}"$')
                    self.notifications.wait_calls('GetCapabilities', 1)
                    start = time.monotonic()
                    self.assertEqual(daemon.stop(sig), status, daemon.text())
                    took = time.monotonic() - start
                    print('%s: stopped in %.2f s' % (sig.name, took), flush=True)
                    self.assertLess(took, 5.0)
                    expected = [pkg_op_call('"first" installed successfully', 'package-install-succeed'),
                                update_call(MARKUP_LOOKALIKE)] if shown else []
                    if shown:
                        self.notifications.wait_calls('Notify', 2)
                        self.system_daemon.wait_calls('SetConfigByNodeName', 1)
                    self.assertEqual(self.notifications.calls('Notify'), expected)
                    stored = self.system_daemon.calls('SetConfigByNodeName')
                    self.assertEqual(len(stored), 1 if shown else 0, stored)
                    for node, date in stored:
                        self.assertEqual(node, 'upgradeNoticeTime')
                        self.assert_today(date, today)
                finally:
                    self.stop_fake(self.notifications)
                    self.system_daemon.clear()


class RealNotificationServerTest(NoticeTestCase):
    '''The update notice as a real server shows it: dunst on the test's
    session bus, drawing on a virtual X display.'''

    def setUp(self):
        super().setUp()
        self._servers = []
        read, write = os.pipe()
        xvfb = subprocess.Popen(['Xvfb', '-displayfd', str(write), '-nolisten', 'tcp'], pass_fds=[write],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self._servers.append(xvfb)
        os.close(write)
        with os.fdopen(read) as f:
            display = f.readline().strip()
        self.assertTrue(display, 'Xvfb gave no display')
        config = os.path.join(TMPDIR, 'dunstrc')
        with open(config, 'w') as f:
            f.write('[global]\n    markup = full\n')
        self.dunst_log = open(os.path.join(TMPDIR, 'dunst.log'), 'wb')
        self._servers.append(subprocess.Popen(['dunst', '-conf', config], env=dict(os.environ, DISPLAY=':' + display),
                                              stdout=self.dunst_log, stderr=subprocess.STDOUT))
        wait_until(lambda: self.session_bus.name_has_owner('org.freedesktop.Notifications'), message='dunst')

    def tearDown(self):
        try:
            super().tearDown()
        finally:
            for server in reversed(self._servers):
                server.terminate()
                server.wait(10)
            self.dunst_log.close()

    def shown(self):
        '''The text of every notification in dunst's history, as it draws it.'''
        subprocess.run(['dunstctl', 'close-all'], check=True)
        history = json.loads(subprocess.run(['dunstctl', 'history'], check=True, capture_output=True,
                                            text=True).stdout)
        texts = []
        for entry in history['data'][0]:
            # "message" is the Pango markup dunst draws; parse it as the renderer would.
            root = xml.etree.ElementTree.fromstring('<markup>%s</markup>' % entry['message']['data'])
            texts.append(''.join(root.itertext()))
        return texts

    def test_dunst_shows_names_as_text(self):
        self.system_daemon = self.start_system_daemon()
        self.start_noticing_daemon()
        wait_until(lambda: self.system_daemon.calls('SetSystemProxy'), message='start')
        self.settle()
        self.send_upgrades(MARKUP_NAMES)
        texts = wait_until(self.shown, message='the notice in dunst\'s history')
        self.assertEqual(texts, ['App Updates are available\n' + MARKUP_PLAIN])


if __name__ == '__main__':
    unittest.main()
