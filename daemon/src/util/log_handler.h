// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

// The program's own message handler, in front of whatever appenders the
// toolkit installed: every message is made safe for a log line (escaped, cut,
// a D-Bus dump's credentials left out) before any appender sees it. Also the
// one line the program writes itself, from a signal handler.
#pragma once

#include <QtGlobal>

#include <cstddef>

class QMessageLogContext;
class QString;

// Puts the handler in front of the one installed now; called again after the
// appenders are registered, since registering installs their handler over it.
void installLogHandler();

// A line for writeSignalSafeLine(), formatted now: the appenders' shape
// (time, level, category, file:line, function, message), with the syslog
// priority in place of the time when standard error is the journal.
struct SignalSafeLine
{
    char text[512];
    size_t size = 0;
    bool journal = false;
};
void prepareSignalSafeLine(SignalSafeLine *line, QtMsgType type, const QMessageLogContext &context,
                           const QString &message);
// Async-signal-safe: writes the line to standard error with write(2), stamped
// with the time of writing, unless standard error would make it wait.
void writeSignalSafeLine(const SignalSafeLine &line);
