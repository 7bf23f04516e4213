# SPDX-FileCopyrightText: 2026 Orvane
# SPDX-License-Identifier: GPL-3.0-or-later

'''Fake of the session lock service.

Parameters (-p JSON):
  current_user: the text CurrentUser returns (default '{}')
  fail: true to answer CurrentUser with an error
  hang: true to answer no method call but Introspect, or a list of the
        member names left unanswered (see hang.py)
  delay: seconds after which CurrentUser is answered
'''
import os
import sys

import dbus

BUS_NAME = 'com.orvane.kesh.LockService'
MAIN_OBJ = '/com/orvane/kesh/LockService'
MAIN_IFACE = 'com.orvane.kesh.LockService'
SYSTEM_BUS = True


def load(mock, parameters):
    if parameters.get('fail'):
        code = "raise dbus.exceptions.DBusException('locked out', name='com.orvane.kesh.Error.Failed')"
    else:
        code = 'ret = %r' % parameters.get('current_user', '{}')
    mock.AddMethod(MAIN_IFACE, 'CurrentUser', '', 's', code)
    if parameters.get('hang'):
        sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
        import hang  # pylint: disable=import-outside-toplevel
        hang.swallow_calls(mock, parameters['hang'])
    if parameters.get('delay'):
        sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
        import hang  # pylint: disable=import-outside-toplevel
        text = parameters.get('current_user', '{}')
        hang.delay_calls(mock, {'CurrentUser': parameters['delay']}, lambda member, args: ('s', [text]))
