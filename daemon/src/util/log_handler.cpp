// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

#include "util/log_handler.h"

#include "logrules/log_text.h"

#include <QByteArray>
#include <QDateTime>
#include <QMessageLogContext>
#include <QString>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::atomic<QtMessageHandler> g_next{nullptr};
// The handler found at the first install (Qt's own): an appender that hands on
// to the handler it replaced, this one, brings a message back here, already
// made safe, and it goes on to that one then.
std::atomic<QtMessageHandler> g_first{nullptr};
thread_local bool t_handling = false;

// The zone's offset, for the signal handler's lines, which cannot ask for it:
// the session outlives a change of daylight saving time.
std::atomic<long> g_utcOffset{0};
std::atomic<long long> g_offsetMinute{-1};

void noteUtcOffset()
{
    const long long minute = static_cast<long long>(::time(nullptr)) / 60;
    if (g_offsetMinute.exchange(minute, std::memory_order_relaxed) != minute)
        g_utcOffset = QDateTime::currentDateTime().offsetFromUtc();
}

void logHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    const QtMessageHandler next = g_next.load();
    if (!next)
        return;
    if (t_handling) {
        const QtMessageHandler first = g_first.load();
        if (first && first != next)
            first(type, context, message);
        return;
    }
    t_handling = true;
    noteUtcOffset();
    next(type, context, logMessageText(type, context.category, message));
    t_handling = false;
}

const char *levelName(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return "Debug";
    case QtInfoMsg:
        return "Info";
    case QtWarningMsg:
        return "Warning";
    case QtCriticalMsg:
        return "Critical";
    case QtFatalMsg:
        return "Fatal";
    }
    return "Unknown";
}

const char *priorityPrefix(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return "<7>";
    case QtInfoMsg:
        return "<6>";
    case QtWarningMsg:
        return "<4>";
    case QtCriticalMsg:
        return "<3>";
    case QtFatalMsg:
        return "<2>";
    }
    return "<5>";
}

// JOURNAL_STREAM names the device and inode of the journal's stream.
bool stderrIsJournal()
{
    const QList<QByteArray> parts = qgetenv("JOURNAL_STREAM").split(':');
    bool deviceOk = false;
    bool inodeOk = false;
    if (parts.size() != 2)
        return false;
    const qulonglong device = parts.at(0).toULongLong(&deviceOk);
    const qulonglong inode = parts.at(1).toULongLong(&inodeOk);
    struct stat st = {};
    return deviceOk && inodeOk && ::fstat(STDERR_FILENO, &st) == 0 && qulonglong(st.st_dev) == device
        && qulonglong(st.st_ino) == inode;
}

// "yyyy-MM-dd hh:mm:ss.zzz" from the clock, by arithmetic alone: localtime()
// is not async-signal-safe. Returns the length written (23).
int signalSafeTimestamp(char *out, long utcOffset)
{
    struct timespec now = {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const long long local = static_cast<long long>(now.tv_sec) + utcOffset;
    long long days = local / 86400;
    long long seconds = local % 86400;
    if (seconds < 0) {
        seconds += 86400;
        --days;
    }
    // Civil date from days since 1970-01-01 (proleptic Gregorian calendar).
    const long long z = days + 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const long long doe = z - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    const long long day = doy - (153 * mp + 2) / 5 + 1;
    const long long month = mp < 10 ? mp + 3 : mp - 9;
    const long long year = yoe + era * 400 + (month <= 2 ? 1 : 0);

    const long long fields[] = {
        year, month, day, seconds / 3600, seconds / 60 % 60, seconds % 60, now.tv_nsec / 1000000};
    const int widths[] = {4, 2, 2, 2, 2, 2, 3};
    const char separators[] = {'-', '-', ' ', ':', ':', '.', '\0'};
    int at = 0;
    for (int f = 0; f < 7; ++f) {
        long long value = fields[f] < 0 ? 0 : fields[f];
        for (int d = widths[f] - 1; d >= 0; --d) {
            out[at + d] = static_cast<char>('0' + value % 10);
            value /= 10;
        }
        at += widths[f];
        if (separators[f])
            out[at++] = separators[f];
    }
    return at;
}

} // namespace

void installLogHandler()
{
    const QtMessageHandler previous = qInstallMessageHandler(logHandler);
    if (previous == logHandler)
        return;
    QtMessageHandler none = nullptr;
    g_first.compare_exchange_strong(none, previous);
    g_next = previous;
    noteUtcOffset();
}

void prepareSignalSafeLine(SignalSafeLine *line, QtMsgType type, const QMessageLogContext &context,
                           const QString &message)
{
    line->journal = stderrIsJournal();
    const QByteArray tail = QByteArray("[") + levelName(type) + "] ["
        + (context.category ? context.category : "default") + "] [" + (context.file ? context.file : "") + ':'
        + QByteArray::number(context.line) + "] [" + (context.function ? context.function : "") + "] "
        + escapeForLog(message.toUtf8(), 256);
    const QByteArray text = (line->journal ? QByteArray(priorityPrefix(type)) : QByteArray()) + tail;
    // A deep build path may make the line longer than the buffer: cut it, but
    // keep it a line of its own.
    line->size = static_cast<size_t>(qMin(int(text.size()) + 1, int(sizeof line->text)));
    std::memcpy(line->text, text.constData(), line->size - 1);
    line->text[line->size - 1] = '\n';
    noteUtcOffset();
}

void writeSignalSafeLine(const SignalSafeLine &line)
{
    if (line.size == 0)
        return;
    char out[sizeof line.text + 32];
    size_t size = 0;
    if (!line.journal) {
        size = static_cast<size_t>(signalSafeTimestamp(out, g_utcOffset.load()));
        out[size++] = ' ';
    }
    std::memcpy(out + size, line.text, line.size);
    size += line.size;
    // Standard error may be a pipe nobody reads: waiting there would keep the
    // process from ending. A pipe with room takes these few bytes whole.
    struct pollfd p = {STDERR_FILENO, POLLOUT, 0};
    if (::poll(&p, 1, 0) != 1 || !(p.revents & POLLOUT))
        return;
    ssize_t written = -1;
    do {
        written = ::send(STDERR_FILENO, out, size, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (written < 0 && errno == ENOTSOCK)
            written = ::write(STDERR_FILENO, out, size);
    } while (written < 0 && errno == EINTR);
}
