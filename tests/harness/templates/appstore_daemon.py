# SPDX-FileCopyrightText: 2026 Orvane
# SPDX-License-Identifier: GPL-3.0-or-later

'''Fake of the system app-store daemon for the session daemon's tests.

Parameters (-p JSON):
  upgrade_check: bool value of LocalUpgradeCheckStatus (default false)
  upgrade_check_type: "string" to serve it as a string instead of a boolean
  config: initial configuration nodes, {"upgradeNoticeTime": "20260101"}
  config_error: true to answer GetConfigByNodeName with an error
  config_empty_reply: true to answer GetConfigByNodeName with no value at all
  config_variant: true to answer GetConfigByNodeName with the text in a variant
  hang: true to answer no method call but Introspect (property reads
        included), or a list of the member names left unanswered (see hang.py)
  delay: {member: seconds}, "Get" and "GetConfigByNodeName" answered late
'''
import os
import sys

import dbus

BUS_NAME = 'com.home.appstore.daemon'
MAIN_OBJ = '/appstore'
MAIN_IFACE = 'com.home.appstore.daemon.interface'
SYSTEM_BUS = True


def load(mock, parameters):
    mock.config = dict(parameters.get('config', {}))
    if parameters.get('config_error'):
        get_code = "raise dbus.exceptions.DBusException('node store unavailable', name='com.home.appstore.Error.Failed')"
    elif parameters.get('config_empty_reply'):
        get_code = ''
    else:
        get_code = "ret = self.config.get(args[0], '')"
    mock.AddMethods(MAIN_IFACE, [
        ('SetSystemProxy', 'ss', '', ''),
        ('GetConfigByNodeName', 's',
         '' if parameters.get('config_empty_reply') else 'v' if parameters.get('config_variant') else 's', get_code),
        ('SetConfigByNodeName', 'ss', '', 'self.config[args[0]] = args[1]'),
        ('reportMode', 's', '', ''),
        ('reportManualInfo', 'sss', '', ''),
    ])
    check = bool(parameters.get('upgrade_check', False))
    if parameters.get('upgrade_check_type') == 'string':
        value = dbus.String('true' if check else 'false')
    else:
        value = dbus.Boolean(check)
    mock.AddProperty(MAIN_IFACE, 'LocalUpgradeCheckStatus', value)
    if parameters.get('hang'):
        sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
        import hang  # pylint: disable=import-outside-toplevel
        hang.swallow_calls(mock, parameters['hang'])
    if parameters.get('delay'):
        sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
        import hang  # pylint: disable=import-outside-toplevel

        def answer(member, args):
            if member == 'Get':
                return 'v', [value]
            return 's', [mock.config.get(args[0], '')]
        hang.delay_calls(mock, parameters['delay'], answer)
