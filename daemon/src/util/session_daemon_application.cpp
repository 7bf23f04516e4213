#include "util/session_daemon_application.h"

#include "dbus/appstore_daemon_interface.h"
#include "dbus/bus_thread.h"
#include "util/log_category.h"
#include "util/translation.h"

#include <nuvixcore/nlogmanager.h>

#include <QDBusConnection>
#include <QDebug>
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

// The SIGABRT line, formatted before the handler is installed. A plain array:
// it must outlive every object, since abort() can come at any time.
char g_abortLine[512];
size_t g_abortLineSize = 0;
// Looked up before the handler is installed: the handler reads no function-
// local static.
const QLoggingCategory *g_category = nullptr;

QString signalText(int sig)
{
    return QStringLiteral("SIGNAL %1 recv, exit").arg(sig);
}

void signalHandler(int sig)
{
    const int savedErrno = errno;
    unsigned char byte = static_cast<unsigned char>(sig);
    // After abort() the loop never runs again, so the line is written here.
    if (sig == SIGABRT) {
        if (g_category && g_category->isDebugEnabled())
            Nuvix::Core::NLogManager::writePrepared(QtDebugMsg, g_abortLine, g_abortLineSize);
        byte |= kLogged;
    }
    [[maybe_unused]] const ssize_t written = ::write(g_signalFds[0], &byte, 1);
    errno = savedErrno;
}

void quitApp(int sig)
{
    qCDebug(logMain) << signalText(sig);
    QCoreApplication::quit();
}

void prepareAbortLine()
{
    QString quoted;
    QDebug(&quoted).nospace() << signalText(SIGABRT);
    const QMessageLogContext context(__FILE__, __LINE__, Q_FUNC_INFO, logMain().categoryName());
    const QByteArray line = Nuvix::Core::NLogManager::prepareMessage(QtDebugMsg, context, quoted);
    // A deep build path may make the line longer than the buffer: cut it, but
    // keep it a line of its own.
    g_abortLineSize = static_cast<size_t>(qMin(line.size(), int(sizeof g_abortLine)));
    std::memcpy(g_abortLine, line.constData(), g_abortLineSize);
    if (g_abortLineSize > 0)
        g_abortLine[g_abortLineSize - 1] = '\n';
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

    AppstoreDaemonInterface::instance();

    // Without its session the daemon has nothing left to serve. Qt reports the
    // loss only through this local signal, which needs the string-based connect.
    QDBusConnection::sessionBus().connect(QString(), QStringLiteral("/org/freedesktop/DBus/Local"),
                                          QStringLiteral("org.freedesktop.DBus.Local"),
                                          QStringLiteral("Disconnected"), this,
                                          SLOT(slotSessionBusDisconnected()));

    installSignalHandlers();
}

SessionDaemonApplication::~SessionDaemonApplication()
{
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
    connect(m_signalNotifier, &QSocketNotifier::activated, this, [] {
        unsigned char byte = 0;
        while (::read(g_signalFds[1], &byte, 1) == 1) {
            if (byte & kLogged)
                QCoreApplication::quit();
            else
                quitApp(byte);
        }
    });
    prepareAbortLine();

    ::signal(SIGINT, signalHandler);
    ::signal(SIGABRT, signalHandler);
    ::signal(SIGTERM, signalHandler);
}

void SessionDaemonApplication::slotSessionBusDisconnected()
{
    qCWarning(logMain) << "Session bus disconnected, exit";
    quit();
}
