# SPDX-FileCopyrightText: 2026 Orvane
# SPDX-License-Identifier: GPL-3.0-or-later

'''Signals of the system daemon and of the lock service forged by connections
that do not own the sender's name: broadcast and sent to the daemon alone,
while the name is absent, owned, between two owners, and after its owner let
it go. None has any effect; the legitimate owner's next signal is handled.'''
import json
import os
import pwd
import unittest

from orvane_testlib import (DaemonTestCase, FaultPeer, NOTIFY_NAME, SYSTEM_DAEMON_NAME, SYSTEM_DAEMON_PATH,
                            SYSTEM_DAEMON_IFACE, LOCK_NAME, LOCK_PATH, LOCK_IFACE, unique_name_of, wait_until)

ME = pwd.getpwuid(os.getuid()).pw_name
UPDATES = 'App Updates are available'


def notice(app):
    return json.dumps({'opt': 1, 'appName': app, 'packageName': 'p', 'logname': ME})


def summary(app):
    return '"%s" installed successfully' % app


class SpoofingTestCase(DaemonTestCase):
    def setUp(self):
        super().setUp()
        self.notifications = self.peer(False, NOTIFY_NAME, answer_notify=True)
        # No system daemon at start: a peer that owns its name is introspected.
        self.daemon = self.start_daemon(env=self.daemon_env(NUVIX_OS_RELEASE=self.edition_env(3)))
        self.daemon_address = unique_name_of(self.system_bus, self.daemon.pid)
        self.assertIsNotNone(self.daemon_address)
        self.spoofer = self.peer(True)
        self.barriers = 0

    def peer(self, system, name=None, answer_notify=False):
        peer = FaultPeer(system, name, answer_notify, log_name='peer-%d' % len(self._fakes))
        self._fakes.append(peer)
        return peer

    def end(self, peer):
        peer.stop()
        self._fakes.remove(peer)

    def shown(self):
        return [c[1] for c in self.notifications.calls('Notify') if len(c) > 1]

    def forge(self, sender, path, interface, member, signature, args, label):
        '''The signal broadcast, then sent to the daemon's connection alone.'''
        for destination in (None, self.daemon_address):
            with self.subTest(label, unicast=destination is not None):
                sender.emit(path, interface, member, signature, args, destination=destination)

    def legitimate_notice(self, owner, app):
        owner.emit(SYSTEM_DAEMON_PATH, SYSTEM_DAEMON_IFACE, 'sigSystemNotificationSent', 's', notice(app))
        wait_until(lambda: summary(app) in self.shown(), 10, 'the owner\'s notice "%s"' % app)


class SystemDaemonSpoofingTest(SpoofingTestCase):
    def forge_all(self, sender, state):
        app = 'forged %s' % state
        self.forged.append(summary(app))
        self.forge(sender, SYSTEM_DAEMON_PATH, SYSTEM_DAEMON_IFACE, 'sigSystemNotificationSent', 's', notice(app),
                   state + ' notice')
        self.forge(sender, SYSTEM_DAEMON_PATH, SYSTEM_DAEMON_IFACE, 'sigLocalAppsUpgradeNotify', 'as',
                   [json.dumps({'package_name': 'forged', 'name': 'Forged'})], state + ' upgrade list')

    def assert_no_effect(self, owners):
        shown = self.shown()
        self.assertEqual([s for s in shown if s in self.forged or s == UPDATES], [])
        for owner in owners:
            # A forged upgrade list would make the daemon ask the owner.
            self.assertEqual([c for c in owner.calls() if c[0] != 'SetSystemProxy'], [])

    def test_matrix(self):
        self.forged = []
        self.forge_all(self.spoofer, 'absent')

        first = self.peer(True, SYSTEM_DAEMON_NAME)
        self.legitimate_notice(first, 'first owner')
        self.assert_no_effect([first])

        self.forge_all(self.spoofer, 'owned')
        self.legitimate_notice(first, 'first owner again')
        self.assert_no_effect([first])

        self.end(first)
        self.forge_all(self.spoofer, 'gap')
        second = self.peer(True, SYSTEM_DAEMON_NAME)
        self.legitimate_notice(second, 'second owner')
        self.assert_no_effect([second])

        second.release()
        self.forge_all(second, 'released by its owner')
        self.forge_all(self.spoofer, 'released')
        third = self.peer(True, SYSTEM_DAEMON_NAME)
        self.legitimate_notice(third, 'third owner')
        self.assert_no_effect([second, third])
        self.assertEqual(self.daemon.stop(), 0)


class UserChangedSpoofingTest(SpoofingTestCase):
    REPORT = 'System Proxy:'

    def setUp(self):
        super().setUp()
        # Its notices are the barrier: handled in order after what came before.
        self.system_daemon = self.peer(True, SYSTEM_DAEMON_NAME)
        self.barrier()
        self.reports = len(self.daemon.lines(self.REPORT))

    def barrier(self):
        self.barriers += 1
        self.legitimate_notice(self.system_daemon, 'barrier %d' % self.barriers)

    def forge_user_changed(self, sender, state):
        self.forge(sender, LOCK_PATH, LOCK_IFACE, 'UserChanged', 's', ME, state)
        self.barrier()
        self.assertEqual(len(self.daemon.lines(self.REPORT)), self.reports, 'a forged UserChanged was handled')

    def legitimate_user_changed(self, owner):
        owner.emit(LOCK_PATH, LOCK_IFACE, 'UserChanged', 's', ME)
        self.reports += 1
        self.daemon.wait_log(self.REPORT, count=self.reports)
        self.barrier()
        self.assertEqual(len(self.daemon.lines(self.REPORT)), self.reports)

    def test_matrix(self):
        self.forge_user_changed(self.spoofer, 'absent')
        first = self.peer(True, LOCK_NAME)
        self.forge_user_changed(self.spoofer, 'owned')
        self.legitimate_user_changed(first)
        self.end(first)
        self.forge_user_changed(self.spoofer, 'gap')
        second = self.peer(True, LOCK_NAME)
        self.legitimate_user_changed(second)
        second.release()
        self.forge_user_changed(second, 'released by its owner')
        self.forge_user_changed(self.spoofer, 'released')
        third = self.peer(True, LOCK_NAME)
        self.legitimate_user_changed(third)
        # The system daemon's own name does not make a UserChanged legitimate.
        self.forge_user_changed(self.system_daemon, 'sent by the system daemon')
        self.assertEqual(self.daemon.stop(), 0)


if __name__ == '__main__':
    unittest.main()
