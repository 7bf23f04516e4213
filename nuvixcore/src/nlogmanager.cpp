#include "nuvixcore/nlogmanager.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QString>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace Nuvix {
namespace Core {

namespace {

constexpr qint64 kMaxLogSize = 4 * 1024 * 1024;

struct LogState
{
    std::mutex mutex;
    bool console = false;
    bool file = false;
    int fd = -1;
    qint64 size = 0;
    QByteArray path;
    QtMessageHandler previous = nullptr;
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
    case QtDebugMsg: return "Debug";
    case QtInfoMsg: return "Info";
    case QtWarningMsg: return "Warning";
    case QtCriticalMsg: return "Critical";
    case QtFatalMsg: return "Fatal";
    }
    return "Unknown";
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

int openLogFile(const QByteArray &path)
{
    return ::open(path.constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
}

void writeAll(int fd, const QByteArray &data)
{
    const char *p = data.constData();
    qint64 left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        p += n;
        left -= n;
    }
}

void rotateLocked(LogState &s)
{
    ::close(s.fd);
    const QByteArray previous = s.path + ".1";
    ::rename(s.path.constData(), previous.constData());
    s.fd = openLogFile(s.path);
    s.size = 0;
}

// A message with a raw line break (bus error texts, unquoted values) would
// otherwise spill over lines and could pass for a line of its own.
QByteArray oneLine(QByteArray text)
{
    return text.replace('\r', "\\r").replace('\n', "\\n");
}

void messageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    LogState &s = state();
    const QByteArray line = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")).toUtf8()
        + " [" + levelName(type) + "] [" + (context.category ? context.category : "default") + "] ["
        + (context.file ? context.file : "") + ':' + QByteArray::number(context.line) + "] ["
        + (context.function ? context.function : "") + "] " + oneLine(message.toUtf8()) + '\n';

    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.console)
        writeAll(STDERR_FILENO, line);
    if (s.file && s.fd >= 0) {
        writeAll(s.fd, line);
        s.size += line.size();
        if (s.size > kMaxLogSize)
            rotateLocked(s);
    }
}

void installHandlerLocked(LogState &s)
{
    if (s.installed)
        return;
    s.previous = qInstallMessageHandler(messageHandler);
    s.installed = true;
}

} // namespace

void NLogManager::registerConsoleAppender()
{
    LogState &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.console = true;
    installHandlerLocked(s);
}

void NLogManager::registerFileAppender()
{
    LogState &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.file)
        return;

    QString stateHome = qEnvironmentVariable("XDG_STATE_HOME");
    if (stateHome.isEmpty())
        stateHome = QDir::homePath() + QStringLiteral("/.local/state");
    QString application = QCoreApplication::applicationName();
    if (application.isEmpty())
        application = QStringLiteral("application");
    const QByteArray dir = QFile::encodeName(stateHome + QLatin1Char('/') + QCoreApplication::organizationName());
    const QByteArray path = dir + '/' + QFile::encodeName(application) + ".log";

    const int fd = makePath(dir) ? openLogFile(path) : -1;
    if (fd < 0) {
        // Logging never stops the daemon: say it once and carry on without a file.
        const QByteArray line = QByteArray("Cannot open log file ") + path + ": " + QByteArray(std::strerror(errno)) + '\n';
        writeAll(STDERR_FILENO, line);
        return;
    }
    struct stat st {};
    s.size = ::fstat(fd, &st) == 0 ? st.st_size : 0;
    s.fd = fd;
    s.path = path;
    s.file = true;
    installHandlerLocked(s);
}

} // namespace Core
} // namespace Nuvix
