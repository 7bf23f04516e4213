# SPDX-FileCopyrightText: 2026 Orvane
# SPDX-License-Identifier: GPL-3.0-or-later

'''The harness's buses keep the limits of the real ones: a connection may have
128 calls awaiting a reply on the system bus and 50,000 on the session bus.
A peer that owns a name and never reads its socket collects the calls.'''
import unittest

import dbus

from orvane_testlib import bus

PEER_NAME = 'com.orvane.test.Silent'


class BusLimitsTest(unittest.TestCase):

    def pending_calls_refused(self, system, pending):
        '''Leaves `pending` calls unanswered, then makes one more; returns the
        name of the error the bus gives it.'''
        silent = bus(system)
        silent.request_name(PEER_NAME)
        caller = bus(system)
        for _ in range(pending):
            caller.send_message(dbus.lowlevel.MethodCallMessage(PEER_NAME, '/', 'com.orvane.test', 'Wait'))
        try:
            caller.call_blocking(PEER_NAME, '/', 'com.orvane.test', 'Wait', '', (), timeout=2)
        except dbus.exceptions.DBusException as error:
            return error.get_dbus_name()
        finally:
            caller.close()
            silent.close()
        self.fail('the silent peer answered')

    def test_system_bus_refuses_the_129th_pending_call(self):
        self.assertEqual(self.pending_calls_refused(True, 128), 'org.freedesktop.DBus.Error.LimitsExceeded')

    def test_session_bus_takes_thousands(self):
        self.assertEqual(self.pending_calls_refused(False, 5000), 'org.freedesktop.DBus.Error.NoReply')


if __name__ == '__main__':
    unittest.main()
