// Log appenders of the toolkit: route every Qt message of the process to the
// console and to a per-application log file.
#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <cstddef>

class QMessageLogContext;
class QString;

namespace Nuvix {
namespace Core {

class NLogManager
{
public:
    // From now on every message also reaches standard error, one line each.
    // When standard error is the journal (JOURNAL_STREAM names its device and
    // inode) a line starts with its syslog priority instead of a timestamp.
    // Each call looks at standard error again.
    static void registerConsoleAppender();
    // From now on every message also reaches
    // $XDG_STATE_HOME/<organisation>/<application>.log (mode 0600, dir 0700),
    // rotated past 4 MiB with one previous file kept as <application>.log.1.
    // Anything but a regular file of the user's at that path (a link, a FIFO,
    // another user's file) is refused with one line on standard error, and the
    // process goes on without a log file.
    static void registerFileAppender();

    // For a signal handler: format a message now, while that is safe, and
    // write it later with writePrepared(), which is async-signal-safe and
    // goes to the appenders registered then, with the time of writing.
    static QByteArray prepareMessage(QtMsgType type, const QMessageLogContext &context, const QString &message);
    static void writePrepared(QtMsgType type, const char *prepared, size_t size);

    NLogManager() = delete;
};

// The text transformations of the appenders, kept free of I/O.
namespace LogText {

// Longest message, in bytes of its escaped form, that an appender writes.
constexpr int kMaxMessageBytes = 16 * 1024;

// Makes a message safe for a terminal and for a line-based file: newline,
// carriage return and tab become "\n", "\r", "\t", every other C0 control,
// DEL and each C1 control (UTF-8 encoded) "\xHH" or "\u00HH". A backslash is
// doubled where it could otherwise be read as the start of such an escape
// (before \, n, r, t, x, u, an escaped byte, or at the end), so that the text
// reads back unambiguously: the escaped newline "\n" and a backslash-n
// written "\\n" never look alike.
// The result holds at most maxBytes bytes of escaped text; what is cut is
// counted in a trailing mark " [cut: N bytes]".
QByteArray escapeMessage(const QByteArray &utf8, int maxBytes = kMaxMessageBytes);

// The priority prefix the journal reads at the start of a line, e.g. "<4>".
QByteArray journalPrefix(QtMsgType type);

// Reads the "DEVICE:INODE" text of JOURNAL_STREAM; false unless it is exactly
// two decimal numbers that fit.
bool parseJournalStream(const QByteArray &text, quint64 *device, quint64 *inode);

// One appender line, newline included. timestamp is left out when journal is
// true, and the journal prefix put first instead.
QByteArray formatLine(QtMsgType type, bool journal, const QByteArray &timestamp, const char *category,
                      const char *file, int line, const char *function, const QByteArray &message);

} // namespace LogText

} // namespace Core
} // namespace Nuvix
