// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

#include "nuvixcore/nlogmanager.h"
#include "nlogmanager_p.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QString>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Nuvix {
namespace Core {

namespace {

constexpr qint64 kMaxLogSize = 4 * 1024 * 1024;
constexpr int kMaxPathBytes = 512;

// How the console is written without ever blocking the caller.
enum class ConsoleKind {
    Plain, // a regular file: writes do not wait
    Socket, // the journal's stream: send() with MSG_DONTWAIT
    Reopened, // a pipe or terminal opened again, non-blocking, as consoleFd
    Polled, // could not be opened again: written only when poll() says it takes data
};

struct LogState
{
    std::mutex mutex;
    bool console = false;
    bool journal = false;
    ConsoleKind consoleKind = ConsoleKind::Plain;
    int consoleFd = STDERR_FILENO;
    quint64 consoleDropped = 0;
    // A line was written in part: the next one starts on a line of its own.
    bool consoleMidLine = false;
    bool file = false;
    int fd = -1;
    int dirFd = -1;
    qint64 size = 0;
    QByteArray dirPath;
    QByteArray name;
    bool installed = false;
};

LogState &state()
{
    static LogState s;
    return s;
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

// syslog priorities: debug 7, info 6, warning 4, error 3, critical 2.
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

void writeAll(int fd, const QByteArray &data)
{
    const char *p = data.constData();
    size_t left = static_cast<size_t>(data.size());
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
}

// Bytes of data the console took now, without waiting; -1 when it took none.
ssize_t consoleWriteSome(const LogState &s, const char *data, size_t size)
{
    for (;;) {
        ssize_t n = -1;
        switch (s.consoleKind) {
        case ConsoleKind::Socket:
            n = ::send(s.consoleFd, data, size, MSG_DONTWAIT | MSG_NOSIGNAL);
            break;
        case ConsoleKind::Polled: {
            struct pollfd p = {s.consoleFd, POLLOUT, 0};
            if (::poll(&p, 1, 0) != 1 || !(p.revents & POLLOUT))
                return -1;
            // A pipe that has room takes a line of up to PIPE_BUF bytes whole.
            n = ::write(s.consoleFd, data, qMin(size, size_t(PIPE_BUF)));
            break;
        }
        case ConsoleKind::Plain:
        case ConsoleKind::Reopened:
            n = ::write(s.consoleFd, data, size);
            break;
        }
        if (n < 0 && errno == EINTR)
            continue;
        return n;
    }
}

// The whole text, or as much as the console takes now; true when it took all.
bool consoleWrite(LogState &s, const QByteArray &text)
{
    const char *p = text.constData();
    size_t left = static_cast<size_t>(text.size());
    while (left > 0) {
        const ssize_t n = consoleWriteSome(s, p, left);
        if (n <= 0) {
            if (left != static_cast<size_t>(text.size()))
                s.consoleMidLine = true;
            return false;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    return true;
}

// Holds the mutex, but never waits on the console: what it cannot take now
// is counted, and said before the next line it takes.
void writeConsoleLocked(LogState &s, QtMsgType type, const QByteArray &line)
{
    const QByteArray head = s.journal ? LogText::journalPrefix(type) : QByteArray();
    if (s.consoleMidLine) {
        if (!consoleWrite(s, "\n")) {
            ++s.consoleDropped;
            return;
        }
        s.consoleMidLine = false;
    }
    if (s.consoleDropped > 0) {
        const QByteArray said = (s.journal ? LogText::journalPrefix(QtWarningMsg) : QByteArray())
            + LogText::droppedLinesText(s.consoleDropped) + '\n';
        if (!consoleWrite(s, said)) {
            ++s.consoleDropped;
            return;
        }
        s.consoleDropped = 0;
    }
    if (!consoleWrite(s, head + line))
        ++s.consoleDropped;
}

// The stand-in's own line names a path from the environment: its control
// bytes are written as "\xHH", and it is cut at maxBytes.
QByteArray printablePath(const QByteArray &path, int maxBytes)
{
    static const char hex[] = "0123456789ABCDEF";
    QByteArray out;
    for (const char c : path.left(maxBytes)) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f)
            out += QByteArray("\\x") + hex[u >> 4] + hex[u & 0xf];
        else
            out += c;
    }
    if (path.size() > maxBytes)
        out += " [cut: " + QByteArray::number(path.size() - maxBytes) + " bytes]";
    return out;
}

void complain(const QByteArray &path, const QByteArray &reason)
{
    LogState &s = state();
    const QByteArray line = "Cannot open log file " + printablePath(path, kMaxPathBytes) + ": " + reason + '\n';
    if (s.console)
        writeConsoleLocked(s, QtWarningMsg, line);
    else
        writeAll(STDERR_FILENO, s.journal ? LogText::journalPrefix(QtWarningMsg) + line : line);
}

// Creates each missing component with mode 0700; an existing one is left as it is.
bool makePath(const QByteArray &dir)
{
    if (dir.isEmpty())
        return false;
    for (int i = 1; i <= dir.size(); ++i) {
        if (i != dir.size() && dir.at(i) != '/')
            continue;
        const QByteArray part = dir.left(i);
        if (::mkdir(part.constData(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    return true;
}

QByteArray openError(int error)
{
    // O_NOFOLLOW reports a link as ELOOP, O_NONBLOCK a FIFO without reader as ENXIO.
    if (error == ELOOP)
        return "a symbolic link is in its place";
    if (error == ENXIO)
        return "not a regular file";
    return QByteArray(std::strerror(error));
}

// The log directory itself must be the user's own; what lies above it is the
// user's layout and is taken as it is.
int openLogDirectory(const QByteArray &dir, QByteArray *error)
{
    if (!makePath(dir)) {
        *error = std::strerror(errno);
        return -1;
    }
    const int fd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        const int openErrno = errno;
        struct stat st = {};
        if ((openErrno == ENOTDIR || openErrno == ELOOP) && ::lstat(dir.constData(), &st) == 0 && S_ISLNK(st.st_mode))
            *error = "its directory is a symbolic link";
        else
            *error = openErrno == ENOTDIR ? QByteArray("its directory is not a directory") : openError(openErrno);
        return -1;
    }
    struct stat st = {};
    if (::fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
        *error = "its directory does not belong to the user";
        ::close(fd);
        return -1;
    }
    if ((st.st_mode & 07777) != 0700 && ::fchmod(fd, 0700) != 0) {
        *error = "cannot make its directory private: " + QByteArray(std::strerror(errno));
        ::close(fd);
        return -1;
    }
    return fd;
}

int openLogFileAt(int dirFd, const QByteArray &name, int extraFlags, QByteArray *error, qint64 *size)
{
    const int fd = ::openat(dirFd, name.constData(),
                            O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | extraFlags, 0600);
    if (fd < 0) {
        *error = openError(errno);
        return -1;
    }
    struct stat st = {};
    // A second hard link would make the daemon append to whatever file it is.
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || st.st_nlink != 1) {
        *error = "not a regular file of the user's own";
        ::close(fd);
        return -1;
    }
    if ((st.st_mode & 07777) != 0600 && ::fchmod(fd, 0600) != 0) {
        *error = "cannot make it private: " + QByteArray(std::strerror(errno));
        ::close(fd);
        return -1;
    }
    *size = st.st_size;
    return fd;
}

void dropFileLocked(LogState &s)
{
    s.file = false;
    ::close(s.fd);
    s.fd = -1;
    ::close(s.dirFd);
    s.dirFd = -1;
}

// Works on names inside the directory already checked, so a link planted at
// either name is renamed or refused, never followed.
void rotateLocked(LogState &s)
{
    s.size = 0;
    const QByteArray previous = s.name + ".1";
    if (::renameat(s.dirFd, s.name.constData(), s.dirFd, previous.constData()) != 0) {
        // Bounded all the same: start the file over.
        [[maybe_unused]] const int truncated = ::ftruncate(s.fd, 0);
        return;
    }
    QByteArray error;
    qint64 size = 0;
    const int fd = openLogFileAt(s.dirFd, s.name, O_EXCL, &error, &size);
    if (fd < 0) {
        complain(s.dirPath + '/' + s.name, error);
        dropFileLocked(s);
        return;
    }
    const bool moved = ::dup3(fd, s.fd, O_CLOEXEC) >= 0;
    ::close(fd);
    if (!moved) {
        complain(s.dirPath + '/' + s.name, std::strerror(errno));
        dropFileLocked(s);
    }
}

QByteArray timestamp()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")).toUtf8();
}

QByteArray formatTail(QtMsgType type, const char *category, const char *file, int line, const char *function,
                      const QByteArray &message)
{
    return QByteArray("[") + levelName(type) + "] [" + (category ? category : "default") + "] [" + (file ? file : "")
        + ':' + QByteArray::number(line) + "] [" + (function ? function : "") + "] " + message + '\n';
}

void messageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    LogState &s = state();
    const QByteArray tail = formatTail(type, context.category, context.file, context.line, context.function,
                                       message.toUtf8());
    const QByteArray stamped = timestamp() + ' ' + tail;

    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.console)
        writeConsoleLocked(s, type, s.journal ? tail : stamped);
    if (s.file) {
        // A regular file of the user's: the write does not wait on a reader.
        writeAll(s.fd, stamped);
        s.size += stamped.size();
        if (s.size > kMaxLogSize)
            rotateLocked(s);
    }
}

void installHandlerLocked(LogState &s)
{
    if (s.installed)
        return;
    qInstallMessageHandler(messageHandler);
    s.installed = true;
}

bool stderrIsJournal()
{
    quint64 device = 0;
    quint64 inode = 0;
    if (!LogText::parseJournalStream(qgetenv("JOURNAL_STREAM"), &device, &inode))
        return false;
    struct stat st = {};
    return ::fstat(STDERR_FILENO, &st) == 0 && quint64(st.st_dev) == device && quint64(st.st_ino) == inode;
}

} // namespace

namespace LogText {

QByteArray journalPrefix(QtMsgType type)
{
    return QByteArray(priorityPrefix(type));
}

bool parseJournalStream(const QByteArray &text, quint64 *device, quint64 *inode)
{
    const int colon = text.indexOf(':');
    if (colon <= 0 || colon == text.size() - 1 || text.size() > 41)
        return false;
    quint64 values[2] = {0, 0};
    const int begins[2] = {0, colon + 1};
    const int ends[2] = {colon, int(text.size())};
    for (int part = 0; part < 2; ++part) {
        for (int i = begins[part]; i < ends[part]; ++i) {
            const char c = text.at(i);
            if (c < '0' || c > '9')
                return false;
            const quint64 digit = quint64(c - '0');
            if (values[part] > (~quint64(0) - digit) / 10)
                return false;
            values[part] = values[part] * 10 + digit;
        }
    }
    *device = values[0];
    *inode = values[1];
    return true;
}

QByteArray droppedLinesText(quint64 count)
{
    return QByteArray::number(count) + " lines not written to the console: it took none for a while";
}

} // namespace LogText

void NLogManager::registerConsoleAppender()
{
    LogState &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.journal = stderrIsJournal();
    if (s.consoleKind == ConsoleKind::Reopened)
        ::close(s.consoleFd);
    s.consoleFd = STDERR_FILENO;
    s.consoleKind = ConsoleKind::Plain;
    struct stat st = {};
    if (::fstat(STDERR_FILENO, &st) == 0 && S_ISSOCK(st.st_mode)) {
        s.consoleKind = ConsoleKind::Socket;
    } else if (::fstat(STDERR_FILENO, &st) == 0 && !S_ISREG(st.st_mode)) {
        // O_NONBLOCK on standard error itself would reach every process that
        // shares it (the shell, the children); a description of our own does
        // not. A pipe whose reader has gone cannot be opened again (ENXIO):
        // it only ever fails, which does not wait either.
        const int fd = ::open("/proc/self/fd/2", O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd >= 0) {
            s.consoleFd = fd;
            s.consoleKind = ConsoleKind::Reopened;
        } else {
            s.consoleKind = ConsoleKind::Polled;
        }
    }
    s.console = true;
    installHandlerLocked(s);
}

void NLogManager::registerFileAppender()
{
    LogState &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.file)
        return;

    // Base directories must be absolute; a relative one is to be ignored.
    QString stateHome = qEnvironmentVariable("XDG_STATE_HOME");
    if (!QDir::isAbsolutePath(stateHome))
        stateHome = QDir::homePath() + QStringLiteral("/.local/state");
    QString application = QCoreApplication::applicationName();
    if (application.isEmpty())
        application = QStringLiteral("application");
    const QByteArray dir = QFile::encodeName(stateHome + QLatin1Char('/') + QCoreApplication::organizationName());
    const QByteArray name = QFile::encodeName(application) + ".log";
    const QByteArray path = dir + '/' + name;
    if (!QDir::isAbsolutePath(stateHome)) {
        complain(path, "no absolute base directory");
        return;
    }

    // Logging never stops the daemon: say it once and carry on without a file.
    QByteArray error;
    const int dirFd = openLogDirectory(dir, &error);
    if (dirFd < 0) {
        complain(path, error);
        return;
    }
    qint64 size = 0;
    const int fd = openLogFileAt(dirFd, name, 0, &error, &size);
    if (fd < 0) {
        complain(path, error);
        ::close(dirFd);
        return;
    }
    s.size = size;
    s.dirFd = dirFd;
    s.dirPath = dir;
    s.name = name;
    s.fd = fd;
    s.file = true;
    installHandlerLocked(s);
}

} // namespace Core
} // namespace Nuvix
