# SPDX-FileCopyrightText: 2026 Orvane
# SPDX-License-Identifier: GPL-3.0-or-later

'''Fake of the desktop notification server: python-dbusmock's own
notification_daemon template, which can also leave calls unanswered.

Parameters (-p JSON): those of notification_daemon ("capabilities"), and
  hang: a list of the member names left unanswered (see hang.py), for
        instance ["GetCapabilities"]
'''
import os
import sys

from dbusmock.templates import notification_daemon

BUS_NAME = notification_daemon.BUS_NAME
MAIN_OBJ = notification_daemon.MAIN_OBJ
MAIN_IFACE = notification_daemon.MAIN_IFACE
SYSTEM_BUS = False


def load(mock, parameters):
    notification_daemon.load(mock, parameters)
    if parameters.get('hang'):
        sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
        import hang  # pylint: disable=import-outside-toplevel
        hang.swallow_calls(mock, parameters['hang'])
