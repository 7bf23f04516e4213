// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

// What may stand in a log line: the one definition of a character that is
// unsafe there, the escaping of such characters, and the bound on text quoted
// from a peer. Pure functions, used by the log handler of the program and by
// every check that refuses outside text for holding such characters.
#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// Whether a code point would split a line, act on a terminal or reorder the
// text around it for the reader of a log: C0 controls, DEL, C1 controls, the
// line and paragraph separators (U+2028, U+2029) and the bidirectional
// embeddings, overrides and isolates (U+202A to U+202E, U+2066 to U+2069).
constexpr bool isUnsafeForLog(char32_t c)
{
    return c < 0x20 || (c >= 0x7f && c <= 0x9f) || c == 0x2028 || c == 0x2029 || (c >= 0x202a && c <= 0x202e)
        || (c >= 0x2066 && c <= 0x2069);
}
bool holdsUnsafeForLog(const QString &text);

// Longest message, in bytes of its escaped UTF-8 form, that reaches an appender.
constexpr int kMaxLogMessageBytes = 16 * 1024;

// The message with every unsafe character written as an escape, the way Qt's
// debug stream writes it inside a quoted value: newline, carriage return and
// tab "\n", "\r", "\t", the other C0 controls and DEL "\xHH", the others
// "\uHHHH" (hex digits in upper case). Nothing else changes, backslashes
// included, so that quoted values read exactly as Qt wrote them. At most
// maxBytes bytes of escaped text are kept, never splitting a character or an
// escape; what is cut is counted in a trailing mark " [cut: N bytes]".
QByteArray escapeForLog(const QByteArray &utf8, int maxBytes = kMaxLogMessageBytes);

// What the program hands on to the appenders for one message: escaped and cut
// as above, and with the contents of a D-Bus message that Qt's D-Bus debugging
// (QDBUS_DEBUG) dumps left out when it is the proxy report, which carries the
// proxy's credentials.
QString logMessageText(QtMsgType type, const char *category, const QString &message);

// Peer text as it may be quoted in a log line: at most kLogQuoteLimit bytes of
// its UTF-8 form (never splitting a character), followed by a mark that names
// the full size when anything was cut. Every text of a peer that a log line
// quotes goes through this one bound.
constexpr int kLogQuoteLimit = 300;
QString cutForLog(const QString &text);
QByteArray cutForLog(const QByteArray &text);
