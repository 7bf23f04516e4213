// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

// The stand-in's own business behind NLogManager, for its tests; never
// installed. What the appenders do beyond the contract:
// - console: when standard error is the journal (JOURNAL_STREAM names its
//   device and inode) a line starts with its syslog priority instead of a
//   timestamp. Writing never blocks: a line the console cannot take now is
//   dropped and counted, and the count is written once it takes lines again.
//   A console that is gone (EPIPE) costs the lines, nothing else.
// - file: $XDG_STATE_HOME/<organisation>/<application>.log (mode 0600, dir
//   0700), rotated past 4 MiB with one previous file kept as
//   <application>.log.1. Anything but a regular file of the user's at that
//   path (a link, a FIFO, another user's file) is refused with one line on
//   standard error, and the process goes on without a log file.
// Messages are written as they come: keeping peer text in a message safe for
// a line (escaping, cutting) is the program's business, before a message
// reaches any appender.
#pragma once

#include <QByteArray>
#include <QtGlobal>

namespace Nuvix {
namespace Core {
namespace LogText {

// The priority prefix the journal reads at the start of a line, e.g. "<4>".
QByteArray journalPrefix(QtMsgType type);

// Reads the "DEVICE:INODE" text of JOURNAL_STREAM; false unless it is exactly
// two decimal numbers that fit.
bool parseJournalStream(const QByteArray &text, quint64 *device, quint64 *inode);

// The text of the line that says how many lines the console missed.
QByteArray droppedLinesText(quint64 count);

} // namespace LogText
} // namespace Core
} // namespace Nuvix
