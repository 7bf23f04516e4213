# SPDX-FileCopyrightText: 2026 Orvane
# SPDX-License-Identifier: GPL-3.0-or-later

'''Makes a fake a hung peer: it keeps its name but leaves method calls to its
object unanswered, as a process stuck in a call would. The calls are still
recorded, so GetCalls shows them; the Mock interface keeps answering.

Not a template: the templates import it when asked to hang.'''
import time

import dbus
import dbus.lowlevel
from gi.repository import GLib

MOCK_IFACE = 'org.freedesktop.DBus.Mock'


def swallow_calls(mock, members):
    '''members: True for every method but Introspect (property reads
    included), or a list of member names ("Get", "Introspect", ...).

    Introspect is answered unless it is named: the test's own proxy of the
    fake (dbus-python's get_object) introspects it first and holds every
    call until the answer, so a hung Introspect also makes the test's first
    call to the Mock interface wait for the bus's time-out (25 s).'''
    def unanswered(_connection, message):
        member = message.get_member()
        if (message.get_type() != dbus.lowlevel.MESSAGE_TYPE_METHOD_CALL or message.get_path() != mock.path
                or message.get_interface() == MOCK_IFACE
                or (members is True and member == 'Introspect')
                or (members is not True and member not in members)):
            return dbus.lowlevel.HANDLER_RESULT_NOT_YET_HANDLED
        mock.call_log.append((int(time.time()), member, message.get_args_list()))
        return dbus.lowlevel.HANDLER_RESULT_HANDLED
    mock.connection.add_message_filter(unanswered)


def delay_calls(mock, delays, answer):
    '''delays: {member: seconds}. Each call of such a member to the fake's
    object is recorded at once and answered only after that many seconds, as
    a peer that is slow but not dead would: answer(member, args) gives the
    reply's (signature, values).'''
    def late(_connection, message):
        member = message.get_member()
        if (message.get_type() != dbus.lowlevel.MESSAGE_TYPE_METHOD_CALL or message.get_path() != mock.path
                or message.get_interface() == MOCK_IFACE or member not in delays):
            return dbus.lowlevel.HANDLER_RESULT_NOT_YET_HANDLED
        args = message.get_args_list()
        mock.call_log.append((int(time.time()), member, args))

        def reply():
            signature, values = answer(member, args)
            out = dbus.lowlevel.MethodReturnMessage(message)
            if signature:
                out.append(*values, signature=signature)
            mock.connection.send_message(out)
            return False
        GLib.timeout_add(int(delays[member] * 1000), reply)
        return dbus.lowlevel.HANDLER_RESULT_HANDLED
    mock.connection.add_message_filter(late)
