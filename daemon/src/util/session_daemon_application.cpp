// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

#include "util/session_daemon_application.h"

#include "dbus/appstore_daemon_interface.h"
#include "dbus/bus_thread.h"
#include "logging/log_category.h"
#include "util/log_handler.h"
#include "util/translation.h"

#include <nuvixcore/nlogmanager.h>

#include <QDBusConnection>
#include <QDebug>
#include <QMessageLogContext>
#include <QSocketNotifier>
#include <QTranslator>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Self-pipe: the signal handler only writes the signal number, the event loop
// does the logging and the quitting, which are not async-signal-safe.
int g_signalFds[2] = {-1, -1};
// Set on the byte when the handler has written the line itself.
constexpr unsigned char kLogged = 0x80;
pid_t g_pid = 0;

// The line for abort() inside the process, formatted before the handler is
// installed. Static storage: abort() can come at any time, even while the
// objects of the program are being destroyed.
SignalSafeLine g_abortLine;
// Looked up before the handler is installed: the handler reads no function-
// local static.
const QLoggingCategory *g_category = nullptr;

QString signalText(int sig)
{
    return QStringLiteral("SIGNAL %1 recv, exit").arg(sig);
}

void signalHandler(int sig, siginfo_t *info, void *)
{
    const int savedErrno = errno;
    unsigned char byte = static_cast<unsigned char>(sig);
    // After abort() the loop never runs again, so the line is written here.
    // A SIGABRT sent from outside takes the way of the others.
    if (sig == SIGABRT && info && info->si_pid == g_pid) {
        if (g_category && g_category->isDebugEnabled())
            writeSignalSafeLine(g_abortLine);
        byte |= kLogged;
    }
    [[maybe_unused]] const ssize_t written = ::write(g_signalFds[0], &byte, 1);
    errno = savedErrno;
}

// Where the termination line is logged; the abort line, which the signal
// handler writes itself, names the same call site.
struct QuitSite
{
    const char *file;
    int line;
    const char *function;
};
const QuitSite kQuitSite = {__FILE__, __LINE__, "void quitApp(int)"};

void quitApp(int sig)
{
    if (logMain().isDebugEnabled())
        QMessageLogger(kQuitSite.file, kQuitSite.line, kQuitSite.function, logMain().categoryName()).debug()
            << signalText(sig);
    QCoreApplication::quit();
}

void prepareAbortLine()
{
    QString quoted;
    QDebug(&quoted).nospace() << signalText(SIGABRT);
    const QMessageLogContext context(kQuitSite.file, kQuitSite.line, kQuitSite.function, logMain().categoryName());
    prepareSignalSafeLine(&g_abortLine, QtDebugMsg, context, quoted);
    g_category = &logMain();
}

} // namespace

SessionDaemonApplication::SessionDaemonApplication(int &argc, char **argv)
    : QCoreApplication(argc, argv)
{
    loadTranslation();
    setOrganizationName(QStringLiteral("orvane"));
    setApplicationName(QStringLiteral("orvane-appstore-session-daemon"));

    Nuvix::Core::NLogManager::registerConsoleAppender();
    Nuvix::Core::NLogManager::registerFileAppender();
    // Registering put the appenders' handler in front: the program's own goes
    // in front of it again, so that no appender sees an unsafe message.
    installLogHandler();

    // Before the service: building it may wait (2 s at most) for the lock
    // service, and a SIGTERM meanwhile must end the program through the loop
    // with status 0, not kill it.
    installSignalHandlers();

    AppstoreDaemonInterface::instance();

    // Without its session the daemon has nothing left to serve. Qt reports the
    // loss only through this local signal, which needs the string-based connect.
    QDBusConnection::sessionBus().connect(QString(), QStringLiteral("/org/freedesktop/DBus/Local"),
                                          QStringLiteral("org.freedesktop.DBus.Local"), QStringLiteral("Disconnected"),
                                          this, SLOT(slotSessionBusDisconnected()));
}

SessionDaemonApplication::~SessionDaemonApplication()
{
    // The loop has ended: what waits for the notification server goes out
    // now, before the buses are settled.
    AppstoreDaemonInterface::instance()->sendHeldNotices();
    settleBusReplies();
    AppstoreDaemonInterface::instance()->deleteLater();
}

void SessionDaemonApplication::loadTranslation()
{
    m_translator = new QTranslator(this);
    // A missing catalogue is not an error: texts then stay untranslated.
    static_cast<void>(m_translator->load(clientCatalogPath(), QString(), QString(), QString()));
    installTranslator(m_translator);
}

void SessionDaemonApplication::installSignalHandlers()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_signalFds) != 0) {
        qCWarning(logMain) << "Failed to create the signal socket pair:" << strerror(errno);
        return;
    }
    m_signalNotifier = new QSocketNotifier(g_signalFds[1], QSocketNotifier::Read, this);
    connect(m_signalNotifier, &QSocketNotifier::activated, this, [this] {
        unsigned char byte = 0;
        while (::read(g_signalFds[1], &byte, 1) == 1) {
            // A burst of signals asks for one quit; the rest are read and let go.
            if (m_quitAsked)
                continue;
            m_quitAsked = true;
            if (byte & kLogged)
                QCoreApplication::quit();
            else
                quitApp(byte);
        }
    });
    prepareAbortLine();
    g_pid = ::getpid();

    struct sigaction action = {};
    action.sa_sigaction = signalHandler;
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (const int sig : {SIGINT, SIGABRT, SIGTERM})
        ::sigaction(sig, &action, nullptr);
}

void SessionDaemonApplication::slotSessionBusDisconnected()
{
    qCWarning(logMain) << "Session bus disconnected, exit";
    quit();
}
