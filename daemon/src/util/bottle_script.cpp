// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

#include "util/bottle_script.h"
#include "util/coverage_hook.h"

#include <QByteArray>
#include <QFile>
#include <QStandardPaths>
#include <QVector>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

extern char **environ;

namespace {

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
};

// Walks from "/" through names[0..count): each opened with O_PATH and
// O_NOFOLLOW inside the one before, so that a link is seen as a link and no
// entry is looked up twice. Only calls that are safe between fork and exec.
Report checkComponents(const char *const *names, int count)
{
    int fd = ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return {FaultOpen, 0, errno};
    for (int i = 0; i <= count; ++i) {
        if (i > 0) {
            const int next = ::openat(fd, names[i - 1], O_PATH | O_NOFOLLOW | O_CLOEXEC);
            const int error = errno;
            ::close(fd);
            if (next < 0)
                return {error == ENOENT || error == ENOTDIR ? FaultMissing : FaultOpen, i, error};
            fd = next;
        }
        struct stat st;
        if (::fstat(fd, &st) != 0) {
            const int error = errno;
            ::close(fd);
            return {FaultOpen, i, error};
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
            return {fault, i, 0};
        }
    }
    ::close(fd);
    return {FaultNone, 0, 0};
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

} // namespace

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

    const pid_t child = ::fork();
    if (child == 0) {
        // Detached as QProcess::startDetached does it: a grandchild in a
        // session of its own, handed to init when the child ends.
        ::setsid();
        const pid_t grandchild = ::fork();
        if (grandchild == 0) {
            struct sigaction defaults = {};
            defaults.sa_handler = SIG_DFL;
            ::sigaction(SIGPIPE, &defaults, nullptr);
            const Report checked = checkComponents(namePointers.constData(), namePointers.size());
            if (checked.fault != FaultNone) {
                writeReport(report[1], checked);
                writeCoverageCounters();
                ::_exit(127);
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
    if (child < 0) {
        ::close(report[0]);
        result.outcome = BottleScriptStart::Refused;
        result.fault = script + QStringLiteral(" cannot be started: ")
            + QString::fromLocal8Bit(std::strerror(forkError));
        return result;
    }
    while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }

    // Ends with the exec (close on exec) or with the grandchild.
    Report checked{FaultNone, 0, 0};
    ssize_t got;
    while ((got = ::read(report[0], &checked, sizeof checked)) < 0 && errno == EINTR) {
    }
    ::close(report[0]);

    if (got != ssize_t(sizeof checked) || checked.fault == FaultNone) {
        result.outcome = BottleScriptStart::Started;
        return result;
    }
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
