#include "nuvixcore/nlogmanager.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QString>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace Nuvix {
namespace Core {

namespace {

constexpr qint64 kMaxLogSize = 4 * 1024 * 1024;
constexpr int kMaxPathBytes = 512;

// The flags and the file descriptor are atomics because writePrepared() reads
// them from a signal handler, without the mutex.
struct LogState
{
    std::mutex mutex;
    std::atomic<bool> console{false};
    std::atomic<bool> journal{false};
    std::atomic<bool> file{false};
    // The file's descriptor number never changes while the file is in use:
    // rotation puts the new file under the same number.
    std::atomic<int> fd{-1};
    std::atomic<long> utcOffset{0};
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
    case QtDebugMsg: return "Debug";
    case QtInfoMsg: return "Info";
    case QtWarningMsg: return "Warning";
    case QtCriticalMsg: return "Critical";
    case QtFatalMsg: return "Fatal";
    }
    return "Unknown";
}

// syslog priorities: debug 7, info 6, warning 4, error 3, critical 2.
const char *priorityPrefix(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg: return "<7>";
    case QtInfoMsg: return "<6>";
    case QtWarningMsg: return "<4>";
    case QtCriticalMsg: return "<3>";
    case QtFatalMsg: return "<2>";
    }
    return "<5>";
}

void writeRaw(int fd, const char *p, size_t left)
{
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

void writeAll(int fd, const QByteArray &data)
{
    writeRaw(fd, data.constData(), static_cast<size_t>(data.size()));
}

void complain(const QByteArray &path, const QByteArray &reason)
{
    const QByteArray line = "Cannot open log file " + LogText::escapeMessage(path, kMaxPathBytes) + ": " + reason + '\n';
    writeAll(STDERR_FILENO, state().journal ? priorityPrefix(QtWarningMsg) + line : line);
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
        *error = errno == ENOTDIR ? QByteArray("its directory is not a directory") : openError(errno);
        return -1;
    }
    struct stat st {};
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
    struct stat st {};
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
    ::close(s.fd.exchange(-1));
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

QByteArray timestamp(LogState &s)
{
    const QDateTime now = QDateTime::currentDateTime();
    // Kept up to date for the signal handler's lines, which cannot ask for the
    // zone: the session outlives a change of daylight saving time.
    s.utcOffset = now.offsetFromUtc();
    return now.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")).toUtf8();
}

void rememberUtcOffset(LogState &s)
{
    s.utcOffset = QDateTime::currentDateTime().offsetFromUtc();
}

// "yyyy-MM-dd hh:mm:ss.zzz" from the clock, by arithmetic alone: localtime()
// is not async-signal-safe. Returns the length written (23).
int signalSafeTimestamp(char *out, long utcOffset)
{
    struct timespec now {};
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

    const long long fields[] = {year, month, day, seconds / 3600, seconds / 60 % 60, seconds % 60,
                                now.tv_nsec / 1000000};
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

QByteArray formatTail(QtMsgType type, const char *category, const char *file, int line, const char *function,
                      const QByteArray &message)
{
    return QByteArray("[") + levelName(type) + "] [" + (category ? category : "default") + "] ["
        + (file ? file : "") + ':' + QByteArray::number(line) + "] [" + (function ? function : "") + "] " + message
        + '\n';
}

void messageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    LogState &s = state();
    const QByteArray tail = formatTail(type, context.category, context.file, context.line, context.function,
                                       LogText::escapeMessage(message.toUtf8()));
    const QByteArray stamped = timestamp(s) + ' ' + tail;

    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.console)
        writeAll(STDERR_FILENO, s.journal ? priorityPrefix(type) + tail : stamped);
    if (s.file) {
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
    struct stat st {};
    return ::fstat(STDERR_FILENO, &st) == 0 && quint64(st.st_dev) == device && quint64(st.st_ino) == inode;
}

} // namespace

namespace LogText {

namespace {
// Whether a backslash before this byte can stay single: it must not be read
// as the start of an escape, so neither an escape letter nor a byte that is
// escaped itself may follow. The backslashes of Qt's quoting before a quote
// thus stay as they are.
bool keepsBackslash(unsigned char next)
{
    return next >= 0x20 && next < 0x7f && !std::strchr("\\nrtxu", next);
}
} // namespace

QByteArray escapeMessage(const QByteArray &utf8, int maxBytes)
{
    static const char hex[] = "0123456789abcdef";
    const int size = utf8.size();
    const auto *in = reinterpret_cast<const unsigned char *>(utf8.constData());
    QByteArray out;
    out.reserve(qMin(size, qMax(maxBytes, 0)) + 16);
    int i = 0;
    while (i < size) {
        const unsigned char c = in[i];
        if (c >= 0x20 && c < 0x7f && c != '\\') {
            // Plain ASCII goes over in runs.
            const int room = maxBytes - int(out.size());
            int end = i + 1;
            while (end < size && end - i <= room && in[end] >= 0x20 && in[end] < 0x7f && in[end] != '\\')
                ++end;
            const int take = qMin(end - i, room);
            if (take <= 0)
                break;
            out.append(utf8.constData() + i, take);
            i += take;
            if (i < end)
                break;
            continue;
        }
        char piece[8];
        int length = 0;
        int consumed = 1;
        if (c == '\\' && !(i + 1 < size && keepsBackslash(in[i + 1]))) {
            piece[0] = '\\';
            piece[1] = '\\';
            length = 2;
        } else if (c == '\n' || c == '\r' || c == '\t') {
            piece[0] = '\\';
            piece[1] = c == '\n' ? 'n' : c == '\r' ? 'r' : 't';
            length = 2;
        } else if (c < 0x20 || c == 0x7f) {
            piece[0] = '\\';
            piece[1] = 'x';
            piece[2] = hex[c >> 4];
            piece[3] = hex[c & 0xf];
            length = 4;
        } else if (c == 0xc2 && i + 1 < size && in[i + 1] >= 0x80 && in[i + 1] <= 0x9f) {
            // C1 controls such as CSI (U+009B) act on terminals too.
            std::memcpy(piece, "\\u00", 4);
            piece[4] = hex[in[i + 1] >> 4];
            piece[5] = hex[in[i + 1] & 0xf];
            length = 6;
            consumed = 2;
        } else {
            // A whole UTF-8 sequence at once, so that a cut never splits a character.
            const int expected = c >= 0xf0 && c < 0xf8 ? 4 : c >= 0xe0 && c < 0xf0 ? 3 : c >= 0xc0 && c < 0xe0 ? 2 : 1;
            while (consumed < expected && i + consumed < size && (in[i + consumed] & 0xc0) == 0x80)
                ++consumed;
            std::memcpy(piece, in + i, static_cast<size_t>(consumed));
            length = consumed;
        }
        if (out.size() + length > maxBytes)
            break;
        out.append(piece, length);
        i += consumed;
    }
    if (i < size)
        out += " [cut: " + QByteArray::number(size - i) + " bytes]";
    return out;
}

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

QByteArray formatLine(QtMsgType type, bool journal, const QByteArray &timestamp, const char *category,
                      const char *file, int line, const char *function, const QByteArray &message)
{
    const QByteArray tail = formatTail(type, category, file, line, function, escapeMessage(message));
    return journal ? priorityPrefix(type) + tail : timestamp + ' ' + tail;
}

} // namespace LogText

void NLogManager::registerConsoleAppender()
{
    LogState &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.journal = stderrIsJournal();
    s.console = true;
    rememberUtcOffset(s);
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
    rememberUtcOffset(s);
    installHandlerLocked(s);
}

QByteArray NLogManager::prepareMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    LogState &s = state();
    rememberUtcOffset(s);
    return formatTail(type, context.category, context.file, context.line, context.function,
                      LogText::escapeMessage(message.toUtf8()));
}

void NLogManager::writePrepared(QtMsgType type, const char *prepared, size_t tailSize)
{
    LogState &s = state();
    // One write per target, so that the line is not torn by another writer.
    char line[1024];
    char stamp[32];
    const int stampSize = signalSafeTimestamp(stamp, s.utcOffset);
    stamp[stampSize] = ' ';

    auto put = [&](int fd, const char *head, size_t headSize) {
        if (headSize + tailSize <= sizeof line) {
            std::memcpy(line, head, headSize);
            std::memcpy(line + headSize, prepared, tailSize);
            writeRaw(fd, line, headSize + tailSize);
        } else {
            writeRaw(fd, head, headSize);
            writeRaw(fd, prepared, tailSize);
        }
    };
    if (s.console) {
        if (s.journal) {
            const char *prefix = priorityPrefix(type);
            put(STDERR_FILENO, prefix, std::strlen(prefix));
        } else {
            put(STDERR_FILENO, stamp, size_t(stampSize) + 1);
        }
    }
    const int fd = s.fd;
    if (s.file && fd >= 0)
        put(fd, stamp, size_t(stampSize) + 1);
}

} // namespace Core
} // namespace Nuvix
