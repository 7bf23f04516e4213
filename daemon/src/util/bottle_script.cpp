// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

#include "util/bottle_script.h"
#include "util/coverage_hook.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTimer>
#include <QVector>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

extern char **environ;

// One property of a unit as the user manager takes it: (sv).
struct BottleScopeProperty
{
    QString name;
    QDBusVariant value;
};
Q_DECLARE_METATYPE(BottleScopeProperty)

// An auxiliary unit: (sa(sv)). None is asked for, but the call has the slot.
struct BottleScopeAuxUnit
{
    QString name;
    QList<BottleScopeProperty> properties;
};
Q_DECLARE_METATYPE(BottleScopeAuxUnit)

QDBusArgument &operator<<(QDBusArgument &argument, const BottleScopeProperty &property)
{
    argument.beginStructure();
    argument << property.name << property.value;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, BottleScopeProperty &property)
{
    argument.beginStructure();
    argument >> property.name >> property.value;
    argument.endStructure();
    return argument;
}

QDBusArgument &operator<<(QDBusArgument &argument, const BottleScopeAuxUnit &unit)
{
    argument.beginStructure();
    argument << unit.name << unit.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, BottleScopeAuxUnit &unit)
{
    argument.beginStructure();
    argument >> unit.name >> unit.properties;
    argument.endStructure();
    return argument;
}

namespace {

const QString kUserManager = QStringLiteral("org.freedesktop.systemd1");
const QString kUserManagerPath = QStringLiteral("/org/freedesktop/systemd1");
const QString kUserManagerInterface = QStringLiteral("org.freedesktop.systemd1.Manager");
constexpr int kUnitNameMax = 255;
constexpr int kScopePollMs = 10;

enum Fault : int {
    FaultNone,
    FaultMissing,
    FaultLink,
    FaultNotRoot,
    FaultWritable,
    FaultNotRegular,
    FaultNotExecutable,
    FaultOpen,
};

// What the child reports through its pipe when it does not exec.
struct Report
{
    int fault;
    int component; // 0 is "/", then the names in order
    int error; // errno of a failed open
    pid_t pid; // the process that execs bash, when it passed
};

// Walks from "/" through names[0..count): each opened with O_PATH and
// O_NOFOLLOW inside the one before, so that a link is seen as a link and no
// entry is looked up twice. Only calls that are safe between fork and exec.
Report checkComponents(const char *const *names, int count)
{
    int fd = ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return {FaultOpen, 0, errno, 0};
    for (int i = 0; i <= count; ++i) {
        if (i > 0) {
            const int next = ::openat(fd, names[i - 1], O_PATH | O_NOFOLLOW | O_CLOEXEC);
            const int error = errno;
            ::close(fd);
            if (next < 0)
                return {error == ENOENT || error == ENOTDIR ? FaultMissing : FaultOpen, i, error, 0};
            fd = next;
        }
        struct stat st;
        if (::fstat(fd, &st) != 0) {
            const int error = errno;
            ::close(fd);
            return {FaultOpen, i, error, 0};
        }
        const bool last = i == count;
        Fault fault = FaultNone;
        if (S_ISLNK(st.st_mode))
            fault = FaultLink;
        else if (!last && !S_ISDIR(st.st_mode))
            fault = FaultMissing; // no directory, so no script below it
        else if (last && S_ISDIR(st.st_mode))
            fault = FaultMissing; // a directory is no script
        else if (last && !S_ISREG(st.st_mode))
            fault = FaultNotRegular;
        else if (st.st_uid != 0)
            fault = FaultNotRoot;
        else if (st.st_mode & (S_IWGRP | S_IWOTH))
            fault = FaultWritable;
        else if (last && !(st.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)))
            fault = FaultNotExecutable;
        if (fault != FaultNone) {
            ::close(fd);
            return {fault, i, 0, 0};
        }
    }
    ::close(fd);
    return {FaultNone, 0, 0, 0};
}

// Between fork and exec: only async-signal-safe calls. Signals left ignored
// stay ignored across the exec and are the caller's to reset.
void restoreDefaultSignalHandlers()
{
    struct sigaction defaults = {};
    defaults.sa_handler = SIG_DFL;
    for (int sig = 1; sig < NSIG; ++sig) {
        struct sigaction current = {};
        if (::sigaction(sig, nullptr, &current) != 0)
            continue;
        const bool handled = (current.sa_flags & SA_SIGINFO) != 0
            || (current.sa_handler != SIG_DFL && current.sa_handler != SIG_IGN);
        if (handled)
            ::sigaction(sig, &defaults, nullptr);
    }
}

void writeReport(int fd, const Report &report)
{
    while (::write(fd, &report, sizeof report) < 0 && errno == EINTR) {
    }
}

QString faultText(const Report &report)
{
    switch (report.fault) {
    case FaultLink:
        return QStringLiteral("is a symbolic link");
    case FaultNotRoot:
        return QStringLiteral("is not owned by root");
    case FaultWritable:
        return QStringLiteral("is writable by others");
    case FaultNotRegular:
        return QStringLiteral("is not a regular file");
    case FaultNotExecutable:
        return QStringLiteral("is not executable");
    default:
        return QStringLiteral("cannot be opened: %1").arg(QString::fromLocal8Bit(std::strerror(report.error)));
    }
}

// "\xNN" for every byte but ASCII letters, digits, ":", "_" and ".".
QString escapedForUnitName(const QByteArray &utf8, int room)
{
    QString escaped;
    for (const char byte : utf8) {
        const auto c = static_cast<unsigned char>(byte);
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ':'
            || c == '_' || c == '.';
        const QString piece = plain ? QString(QLatin1Char(char(c)))
                                    : QStringLiteral("\\x%1").arg(uint(c), 2, 16, QLatin1Char('0'));
        if (escaped.size() + piece.size() > room)
            break;
        escaped += piece;
    }
    return escaped;
}

void registerScopeTypes()
{
    static const bool registered = [] {
        qDBusRegisterMetaType<BottleScopeProperty>();
        qDBusRegisterMetaType<QList<BottleScopeProperty>>();
        qDBusRegisterMetaType<BottleScopeAuxUnit>();
        qDBusRegisterMetaType<QList<BottleScopeAuxUnit>>();
        qDBusRegisterMetaType<QList<uint>>();
        return true;
    }();
    Q_UNUSED(registered)
}

bool inCgroupOf(pid_t pid, const QString &unit)
{
    QFile cgroup(QStringLiteral("/proc/%1/cgroup").arg(pid));
    if (!cgroup.open(QIODevice::ReadOnly))
        return true; // gone: nothing left to wait for
    return QString::fromUtf8(cgroup.read(64 * 1024)).contains(QLatin1Char('/') + unit + QLatin1Char('\n'));
}

// Asks the user manager of the session bus, without waiting for it, for a
// scope holding pid, and closes holdFd (which lets bash go on) once pid is
// in it, at once when the user manager refuses or there is none, and after
// kAppScopeWaitMs at most.
void askForAppScope(const QString &packageName, pid_t pid, int holdFd)
{
    const auto hold = std::shared_ptr<int>(new int(holdFd), [](int *fd) {
        ::close(*fd);
        delete fd;
    });
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    registerScopeTypes();
    const QString unit = appScopeName(packageName, pid);
    const QList<BottleScopeProperty> properties{
        {QStringLiteral("Description"), QDBusVariant(QStringLiteral("Bottle creation of %1").arg(packageName))},
        {QStringLiteral("PIDs"), QDBusVariant(QVariant::fromValue(QList<uint>{uint(pid)}))},
        // A scope whose script failed is not kept around as a failed unit.
        {QStringLiteral("CollectMode"), QDBusVariant(QStringLiteral("inactive-or-failed"))},
    };
    QDBusMessage call = QDBusMessage::createMethodCall(kUserManager, kUserManagerPath, kUserManagerInterface,
                                                       QStringLiteral("StartTransientUnit"));
    // Without a user manager nothing is to be started for it.
    call.setAutoStartService(false);
    call << unit << QStringLiteral("fail") << QVariant::fromValue(properties)
         << QVariant::fromValue(QList<BottleScopeAuxUnit>());
    const QDeadlineTimer bound(kAppScopeWaitMs);
    // Owned by the application, so that an exit meanwhile frees them and the hold.
    QObject *const owner = QCoreApplication::instance();
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, kAppScopeWaitMs), owner);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [hold, pid, unit, bound](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        if (w->isError())
            return;
        // The reply names the job; the process is moved when the job runs.
        auto *poll = new QTimer(QCoreApplication::instance());
        QObject::connect(poll, &QTimer::timeout, [poll, hold, pid, unit, bound] {
            if (inCgroupOf(pid, unit) || bound.hasExpired())
                poll->deleteLater();
        });
        poll->start(kScopePollMs);
    });
}

} // namespace

QString appScopeName(const QString &packageName, pid_t pid)
{
    const QString launcher = escapedForUnitName(QByteArrayLiteral("orvane-appstore"), kUnitNameMax);
    const QString head = QStringLiteral("app-") + launcher + QLatin1Char('-');
    const QString tail = QStringLiteral("-%1.scope").arg(pid);
    return head + escapedForUnitName(packageName.toUtf8(), kUnitNameMax - head.size() - tail.size()) + tail;
}

BottleScriptStart startBottleScript(const QString &appsDir, const QString &packageName)
{
    BottleScriptStart result;
    const QString script = QStringLiteral("%1/%2/files/run.sh").arg(appsDir, packageName);

    // The real apps directory: a distribution may keep it elsewhere and link it.
    char resolved[PATH_MAX];
    if (!::realpath(QFile::encodeName(appsDir).constData(), resolved))
        return result;
    QList<QByteArray> names = QByteArray(resolved).split('/');
    names.removeAll(QByteArray());
    names << QFile::encodeName(packageName) << QByteArrayLiteral("files") << QByteArrayLiteral("run.sh");
    QVector<const char *> namePointers;
    for (const QByteArray &name : std::as_const(names))
        namePointers.append(name.constData());

    const QString bash = QStandardPaths::findExecutable(QStringLiteral("bash"));
    const QByteArray bashPath = QFile::encodeName(bash);
    const QByteArray command = QFile::encodeName(script) + " -c";
    const char *argv[] = {"bash", "-c", command.constData(), nullptr};

    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        result.outcome = BottleScriptStart::Refused;
        result.fault = script + QStringLiteral(" cannot be started: ") + QString::fromLocal8Bit(std::strerror(errno));
        return result;
    }
    // bash waits for the end of this pipe before its exec; without a session
    // bus there is no user manager to ask, and it goes on at once.
    int hold[2] = {-1, -1};
    if (QDBusConnection::sessionBus().isConnected() && ::pipe2(hold, O_CLOEXEC) != 0)
        hold[0] = hold[1] = -1;

    const pid_t child = ::fork();
    if (child == 0) {
        // Until its exec this process still has the program's handlers, which
        // would pass a signal sent to it (a stop of the unit sends one to
        // every process of it) on to the program's own loop: it ends as bash
        // would instead.
        restoreDefaultSignalHandlers();
        // Detached as QProcess::startDetached does it: a grandchild in a
        // session of its own, handed to init when the child ends.
        ::setsid();
        const pid_t grandchild = ::fork();
        if (grandchild == 0) {
            struct sigaction defaults = {};
            defaults.sa_handler = SIG_DFL;
            ::sigaction(SIGPIPE, &defaults, nullptr);
            if (hold[1] >= 0)
                ::close(hold[1]);
            Report checked = checkComponents(namePointers.constData(), namePointers.size());
            if (checked.fault != FaultNone) {
                writeReport(report[1], checked);
                writeCoverageCounters();
                ::_exit(127);
            }
            checked.pid = ::getpid();
            writeReport(report[1], checked);
            ::close(report[1]);
            if (hold[0] >= 0) {
                pollfd released = {hold[0], POLLIN, 0};
                ::poll(&released, 1, kAppScopeWaitMs);
                ::close(hold[0]);
            }
            if (!bashPath.isEmpty())
                ::execve(bashPath.constData(), const_cast<char *const *>(argv), environ);
            // A failed start is not the script's fault: nothing to report.
            writeCoverageCounters();
            ::_exit(127);
        }
        writeCoverageCounters();
        ::_exit(grandchild < 0 ? 1 : 0);
    }
    const int forkError = errno;
    ::close(report[1]);
    if (hold[0] >= 0)
        ::close(hold[0]);
    if (child < 0) {
        ::close(report[0]);
        if (hold[1] >= 0)
            ::close(hold[1]);
        result.outcome = BottleScriptStart::Refused;
        result.fault = script + QStringLiteral(" cannot be started: ")
            + QString::fromLocal8Bit(std::strerror(forkError));
        return result;
    }
    while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }

    // One report from the grandchild once it has checked the tree, or none
    // when it could not be made.
    Report checked{FaultNone, 0, 0, 0};
    ssize_t got;
    while ((got = ::read(report[0], &checked, sizeof checked)) < 0 && errno == EINTR) {
    }
    ::close(report[0]);

    if (got != ssize_t(sizeof checked) || checked.fault == FaultNone) {
        result.outcome = BottleScriptStart::Started;
        result.pid = got == ssize_t(sizeof checked) ? checked.pid : 0;
        if (hold[1] >= 0 && result.pid > 0)
            askForAppScope(packageName, result.pid, hold[1]);
        else if (hold[1] >= 0)
            ::close(hold[1]);
        return result;
    }
    if (hold[1] >= 0)
        ::close(hold[1]);
    if (checked.fault == FaultMissing)
        return result;
    QByteArray path;
    for (int i = 0; i < checked.component; ++i)
        path += '/' + names.at(i);
    result.outcome = BottleScriptStart::Refused;
    result.fault = (path.isEmpty() ? QStringLiteral("/") : QFile::decodeName(path)) + QLatin1Char(' ')
        + faultText(checked);
    return result;
}
