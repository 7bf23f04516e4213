#include "util/session_daemon_application.h"

#include "dbus/appstore_daemon_interface.h"
#include "util/log_category.h"
#include "util/translation.h"

#include <nuvixcore/nlogmanager.h>

#include <QSocketNotifier>
#include <QTranslator>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Self-pipe: the signal handler only writes the signal number, the event loop
// does the logging and the quitting, which are not async-signal-safe.
int g_signalFds[2] = {-1, -1};

void signalHandler(int sig)
{
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(sig);
    [[maybe_unused]] const ssize_t written = ::write(g_signalFds[0], &byte, 1);
    errno = savedErrno;
}

void quitApp(int sig)
{
    qCDebug(logMain) << QStringLiteral("SIGNAL %1 recv, exit").arg(sig);
    QCoreApplication::quit();
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

    installSignalHandlers();
}

SessionDaemonApplication::~SessionDaemonApplication()
{
    AppstoreDaemonInterface::instance()->deleteLater();
}

void SessionDaemonApplication::loadTranslation()
{
    m_translator = new QTranslator(this);
    // A missing catalogue is not an error: texts then stay untranslated.
    m_translator->load(clientCatalogPath(), QString(), QString(), QString());
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
        while (::read(g_signalFds[1], &byte, 1) == 1)
            quitApp(byte);
    });

    ::signal(SIGINT, signalHandler);
    ::signal(SIGABRT, signalHandler);
    ::signal(SIGTERM, signalHandler);
}
