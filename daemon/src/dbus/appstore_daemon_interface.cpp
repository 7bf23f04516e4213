// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

#include "dbus/appstore_daemon_interface.h"

#include "dbus/bus_thread.h"
#include "dbus/system_bus_probe.h"
#include "dbus/system_daemon_interface.h"
#include "gsettings/gsettings_watcher.h"
#include "logging/log_category.h"
#include "logrules/log_text.h"
#include "notices/notice_sender.h"
#include "notices/notice_texts.h"
#include "notices/notice_values.h"
#include "peerjson/peer_json.h"
#include "proxy/proxy_values.h"
#include "proxy/system_proxy_monitor.h"
#include "session/session_facts.h"
#include "util/bottle_script.h"
#include "util/guard.h"

#include <nuvixcore/nsysinfo.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QDate>
#include <QDeadlineTimer>
#include <QProcessEnvironment>
#include <QThread>
#include <QTimer>

#include <malloc.h>
#include <pwd.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>

namespace {

const QString kDaemonService = QStringLiteral("com.home.appstore.daemon");
const QString kDaemonPath = QStringLiteral("/appstore");
constexpr char kDaemonInterfaceName[] = "com.home.appstore.daemon.interface";
const QString kDaemonInterface = QLatin1String(kDaemonInterfaceName);

const QString kNotifyService = QStringLiteral("org.freedesktop.Notifications");
const QString kNotifyPath = QStringLiteral("/org/freedesktop/Notifications");

const QString kLockService = QStringLiteral("com.orvane.kesh.LockService");
const QString kLockPath = QStringLiteral("/com/orvane/kesh/LockService");
const QString kLockInterface = QStringLiteral("com.orvane.kesh.LockService");

const QString kLocalPath = QStringLiteral("/org/freedesktop/DBus/Local");
const QString kLocalInterface = QStringLiteral("org.freedesktop.DBus.Local");
const QString kDisconnected = QStringLiteral("Disconnected");

const QString kAppName = QLatin1String(kNoticeAppName);
const QString kUpgradeNoticeNode = QStringLiteral("upgradeNoticeTime");
const QString kDateFormat = QStringLiteral("yyyyMMdd");
const QString kUpdatePageUrl = QStringLiteral("appstore://orvane-home-appstore-client?tab/update");
const QString kNoticeSourceId = QStringLiteral("1e0ef2b9dac84d8b8bef12625170f82f");

constexpr int kTrimDelayMs = 100;
constexpr qsizetype kMaxDateAnswerChars = 64;
// The bus daemon answers its first question at once; a stopped one never does.
constexpr int kSystemBusProbeMs = 250;
// A system bus that cannot be connected to is tried again after these, doubled
// from one try to the next.
constexpr int kSystemBusRetryFirstMs = 500;
constexpr int kSystemBusRetryLastMs = 60 * 1000;

// A blocking call that ran out of time, as opposed to an answer (an error
// reply included).
bool isTimeOut(const QDBusMessage &reply)
{
    return reply.type() == QDBusMessage::ErrorMessage
        && (reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.NoReply")
            || reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.Timeout"));
}

QString userNameOf(uid_t uid)
{
    const passwd *entry = ::getpwuid(uid);
    return entry ? QString::fromUtf8(entry->pw_name).trimmed() : QString();
}

// Hands freed heap back to the system once the events queued now are handled.
// malloc_trim walks the whole heap: made after every event of a burst, it
// slowed each event as the waiting messages swelled the heap, until a flood
// left the daemon minutes behind. An event on its own still gets its trim, a
// burst gets one at its end.
void trimHeapSoon()
{
    static bool pending = false;
    if (pending)
        return;
    pending = true;
    QTimer::singleShot(kTrimDelayMs, [] {
        pending = false;
        malloc_trim(0);
        noteHeapTrimmed();
    });
}

} // namespace

AppstoreDaemonInterface *AppstoreDaemonInterface::m_appstoreDaemon = nullptr;

AppstoreDaemonInterface *AppstoreDaemonInterface::instance()
{
    if (!m_appstoreDaemon)
        m_appstoreDaemon = new AppstoreDaemonInterface(nullptr);
    return m_appstoreDaemon;
}

AppstoreDaemonInterface::AppstoreDaemonInterface(QObject *parent)
    : QObject(parent)
{
    getLogName();

    m_systemNoticeEnabled = Nuvix::Core::NSysInfo::veskEditionType() == 3;

    const QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    m_isWayland = isWaylandSession(environment.value(QStringLiteral("XDG_SESSION_TYPE")),
                                   environment.value(QStringLiteral("WAYLAND_DISPLAY")));

    initConnections();
    keepBusReading(this);
    trimAfterBusTraffic(this, &trimHeapSoon);

    // Answers through sigValueChanged at once, so the list is filled before
    // the first upgrade signal can arrive.
    GSettingsWatcher::instance()->getValueAsync(kGSettingsAppStoreSchemaId, kGSettingsAppStorePath,
                                                QStringLiteral("appsIgnoreUpdates"));

    watchNotificationServer();

    // A system bus that does not answer must not hold the start: the session
    // side runs meanwhile, and the system side comes up once it answers.
    m_systemBusRetry = new QTimer(this);
    m_systemBusRetry->setSingleShot(true);
    connect(m_systemBusRetry, &QTimer::timeout, this, [this] { waitForSystemBus(0); });
    waitForSystemBus(kSystemBusProbeMs);
}

QDBusConnection AppstoreDaemonInterface::systemBus() const
{
    return QDBusConnection(m_systemBusName);
}

// Connecting makes the bus thread wait for the bus daemon's answer, with every
// connection of the process behind it: only a bus daemon that answered the
// probe is connected to.
void AppstoreDaemonInterface::waitForSystemBus(int waitMs)
{
    auto *probe = new SystemBusProbe(this);
    if (probe->answersWithin(waitMs)) {
        delete probe;
        connectSystemBus();
        return;
    }
    if (!m_systemBusWarned) {
        qCWarning(logMain) << "System bus does not answer, waiting for it";
        m_systemBusWarned = true;
    }
    connect(probe, &SystemBusProbe::sigAnswered, this, [this, probe] {
        probe->deleteLater();
        Guard guard([] { trimHeapSoon(); });
        qCDebug(logMain) << "System bus answers";
        connectSystemBus();
    });
}

void AppstoreDaemonInterface::connectSystemBus()
{
    // Never the name of an earlier connection, which may still be closing.
    static quint32 connections = 0;
    const QString name = QStringLiteral("orvane-appstore-system-bus-%1").arg(++connections);
    const QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SystemBus, name);
    if (!bus.isConnected()) {
        // No socket yet (a bus daemon that restarts makes it anew), or a bus
        // that refused: asked again later, less often the longer it lasts.
        const QString error = bus.lastError().message();
        QDBusConnection::disconnectFromBus(name);
        m_systemBusRetryMs = qBound(kSystemBusRetryFirstMs, m_systemBusRetryMs * 2, kSystemBusRetryLastMs);
        if (!m_systemBusWarned) {
            qCWarning(logMain).noquote() << "System bus connection failed:" << cutForLog(error);
            m_systemBusWarned = true;
        } else {
            qCDebug(logMain).noquote() << "System bus connection failed:" << cutForLog(error);
        }
        m_systemBusRetry->start(m_systemBusRetryMs);
        return;
    }
    if (m_systemBusWarned)
        qCDebug(logMain) << "System bus connected";
    m_systemBusName = name;
    m_systemBusRetryMs = 0;
    m_systemBusWarned = false;
    bringUpSystemSide();
}

void AppstoreDaemonInterface::bringUpSystemSide()
{
    QDBusConnection bus = systemBus();
    noteSystemBusUp(m_systemBusName);
    m_systemSideUp = true;
    // The loss is heard before anything else is set up: Qt reports it only
    // through this local signal (which needs the string-based connect), and
    // only to whoever listens when it comes.
    bus.connect(QString(), kLocalPath, kLocalInterface, kDisconnected, this, SLOT(slotSystemBusDisconnected()));
    // A subscription by service name makes Qt ask the bus for the name's
    // owner from its bus thread, and libdbus ends the process when that
    // connection is gone by then: a bus that went away meanwhile is waited
    // for again instead.
    if (!bus.isConnected()) {
        slotSystemBusDisconnected();
        return;
    }

    m_daemonInterface = new SystemDaemonInterface(kDaemonService, kDaemonPath, kDaemonInterfaceName, bus, this);
    initDBusConnections(bus);
    watchSystemDaemon(bus);
    storeUnstoredNoticeDate();

    // Waits (2 s at most), so only once every subscription is made.
    if (m_logName.isEmpty())
        askLockService();

    // The first report always goes out, with whatever came meanwhile.
    m_proxyEnvironment.clear();
    slotSystemProxyEnvironmentChanged();
}

// The update notice went out while the system bus was away: its day is stored
// once the system daemon answers the call, on the bus it came back on.
void AppstoreDaemonInterface::storeUnstoredNoticeDate()
{
    if (!m_unstoredNoticeDate.isValid() || !m_daemonInterface)
        return;
    QDBusMessage set = QDBusMessage::createMethodCall(kDaemonService, kDaemonPath, kDaemonInterface,
                                                      QStringLiteral("SetConfigByNodeName"));
    set << kUpgradeNoticeNode << m_unstoredNoticeDate.toString(kDateFormat);
    auto *pending = new QDBusPendingCallWatcher(m_daemonInterface->connection().asyncCall(set), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this,
            [this, date = m_unstoredNoticeDate](QDBusPendingCallWatcher *call) {
                call->deleteLater();
                if (!call->isError() && m_unstoredNoticeDate == date)
                    m_unstoredNoticeDate = QDate();
            });
}

// Everything that holds the lost connection goes with it; what this process
// knows (the user, the day's notice, the proxy settings) stays.
void AppstoreDaemonInterface::takeDownSystemSide()
{
    m_systemSideUp = false;
    noteSystemBusUp(QString());
    systemBus().disconnect(QString(), kLocalPath, kLocalInterface, kDisconnected, this,
                           SLOT(slotSystemBusDisconnected()));
    delete m_daemonInterface;
    m_daemonInterface = nullptr;
    delete m_daemonWatcher;
    m_daemonWatcher = nullptr;
    m_storeUnresponsive = false;
    // Closed once the last message that holds it is freed.
    QDBusConnection::disconnectFromBus(m_systemBusName);
    m_systemBusName.clear();
}

AppstoreDaemonInterface::~AppstoreDaemonInterface()
{
    // Whoever deletes the service without asking first loses no notice.
    sendHeldNotices();
    // The connection closes with the service: a plugin registered again opens
    // its own.
    if (m_systemSideUp)
        takeDownSystemSide();
    // A later instance() (a plugin registered again) must build a new service,
    // never hand out this one.
    if (m_appstoreDaemon == this)
        m_appstoreDaemon = nullptr;
}

void AppstoreDaemonInterface::initConnections()
{
    connect(GSettingsWatcher::instance(), &GSettingsWatcher::sigValueChanged, this,
            &AppstoreDaemonInterface::slotGSettingsValueChanged);
    connect(SystemProxyMonitor::instance(), &SystemProxyMonitor::sigEnvironmentChanged, this,
            &AppstoreDaemonInterface::slotSystemProxyEnvironmentChanged);
}

void AppstoreDaemonInterface::initDBusConnections(const QDBusConnection &systemBus)
{
    // Subscribed by service name: the bus library then delivers only signals
    // sent by the owner of that name, so no other user can inject notices.
    QDBusConnection bus = systemBus;
    // With the signature given, a signal whose arguments differ is not
    // delivered; without it, one with extra arguments would be.
    bus.connect(m_daemonInterface->service(), m_daemonInterface->path(), m_daemonInterface->interface(),
                QStringLiteral("sigLocalAppsUpgradeNotify"), QStringLiteral("as"), this,
                SLOT(slotLocalAppsUpgradeNotify(QStringList)));
    bus.connect(m_daemonInterface->service(), m_daemonInterface->path(), m_daemonInterface->interface(),
                QStringLiteral("sigSystemNotificationSent"), QStringLiteral("s"), this,
                SLOT(slotSystemNotificationSent(QString)));
    bus.connect(kLockService, kLockPath, kLockInterface, QStringLiteral("UserChanged"), QStringLiteral("s"), this,
                SLOT(slotUserChanged(QString)));
}

void AppstoreDaemonInterface::watchSystemDaemon(const QDBusConnection &bus)
{
    // The system daemon keeps no proxy across its own restart, and it may start
    // after this session: give every new owner of its name the last report.
    m_daemonWatcher = new QDBusServiceWatcher(kDaemonService, bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(m_daemonWatcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString &, const QString &, const QString &newOwner) {
                m_storeUnresponsive = false;
                if (newOwner.isEmpty())
                    return;
                storeUnstoredNoticeDate();
                reportSystemProxyEnvironment(proxyEnvironmentText(m_proxyEnvironment));
            });
}

// The bus daemon stopped or restarts: the system side is taken down and comes
// up again on a new connection once a bus daemon answers on the address.
void AppstoreDaemonInterface::slotSystemBusDisconnected()
{
    // Only the loss of the connection in use counts: an earlier one's late
    // word must not take down its successor.
    if (!m_systemSideUp || systemBus().isConnected())
        return;
    Guard guard([] { trimHeapSoon(); });
    qCWarning(logMain) << "System bus disconnected: the system daemon and the lock service are out of reach";
    m_systemBusWarned = true;
    takeDownSystemSide();
    waitForSystemBus(0);
}

// After one time-out the system daemon counts as unresponsive: an upgrade
// list then ends at once instead of holding the loop again, until the daemon
// answers the call sent here, sends a notice or changes owner.
void AppstoreDaemonInterface::storeTimedOut(const char *read)
{
    m_storeUnresponsive = true;
    qCWarning(logMain).noquote() << "System daemon does not answer" << read << "in time, upgrade list dropped";
    probeStore();
}

void AppstoreDaemonInterface::probeStore()
{
    if (m_storeProbePending || !m_daemonInterface)
        return;
    m_storeProbePending = true;
    QDBusMessage get = QDBusMessage::createMethodCall(
        kDaemonService, kDaemonPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << kDaemonInterface << QStringLiteral("LocalUpgradeCheckStatus");
    auto *pending = new QDBusPendingCallWatcher(m_daemonInterface->connection().asyncCall(get), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *call) {
        call->deleteLater();
        m_storeProbePending = false;
        if (!isTimeOut(call->reply()))
            m_storeUnresponsive = false;
    });
}

void AppstoreDaemonInterface::watchNotificationServer()
{
    // App names come from packages: a server that reads bodies as markup
    // must get them escaped. It is asked when the first notice is due, not at
    // the start, which would wake (activate) it for nothing; and asked again
    // when its name changes owner.
    m_noticeHold = new QTimer(this);
    m_noticeHold->setSingleShot(true);
    connect(m_noticeHold, &QTimer::timeout, this, [this] {
        Guard guard([] { trimHeapSoon(); });
        // A late answer still counts for later notices.
        sendHeldNotices();
    });
    auto *watcher = new QDBusServiceWatcher(kNotifyService, QDBusConnection::sessionBus(),
                                            QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString &, const QString &, const QString &newOwner) {
                ++m_capabilitiesQuery;
                m_capabilities = Capabilities::Unknown;
                m_bodyMarkup = BodyMarkup::NotRead;
                if (!m_heldNotices.empty() && !newOwner.isEmpty())
                    askNotificationCapabilities();
            });
}

void AppstoreDaemonInterface::askNotificationCapabilities()
{
    m_capabilities = Capabilities::Asking;
    const QDBusMessage ask = QDBusMessage::createMethodCall(kNotifyService, kNotifyPath, kNotifyService,
                                                            QStringLiteral("GetCapabilities"));
    auto *pending = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(ask), this);
    const quint64 query = ++m_capabilitiesQuery;
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this, query](QDBusPendingCallWatcher *call) {
        call->deleteLater();
        if (query != m_capabilitiesQuery)
            return;
        Guard guard([] { trimHeapSoon(); });
        const QDBusPendingReply<QStringList> reply = *call;
        m_capabilities = Capabilities::Known;
        // A server that fails to say gets no markup character from a name.
        if (reply.isError())
            m_bodyMarkup = BodyMarkup::Unknown;
        else
            m_bodyMarkup = reply.value().contains(QStringLiteral("body-markup")) ? BodyMarkup::Read
                                                                                 : BodyMarkup::NotRead;
        releaseNotices();
    });
}

// Every notice goes through here, so that notices held for the server's
// answer keep their order with those that come after it.
void AppstoreDaemonInterface::sendNotice(std::function<void()> send)
{
    if (m_capabilities == Capabilities::Known && m_heldNotices.empty()) {
        send();
        return;
    }
    m_heldNotices.push_back(std::move(send));
    if (m_capabilities == Capabilities::Unknown)
        askNotificationCapabilities();
    if (!m_noticeHold->isActive())
        m_noticeHold->start(kCapabilitiesWaitMs);
}

// No answer in time, or the service stops: the names go out with nothing
// any server could read as markup. Nothing waits for the server here.
void AppstoreDaemonInterface::sendHeldNotices()
{
    if (m_heldNotices.empty())
        return;
    m_capabilities = Capabilities::Known;
    m_bodyMarkup = BodyMarkup::Unknown;
    releaseNotices();
}

void AppstoreDaemonInterface::releaseNotices()
{
    m_noticeHold->stop();
    // A notice sent from here could hold again only if the answer were
    // forgotten meanwhile, which needs the loop: take the list first anyway.
    std::vector<std::function<void()>> held;
    held.swap(m_heldNotices);
    for (const std::function<void()> &send : held)
        send();
}

// ---------------------------------------------------------------------------
// Session user

void AppstoreDaemonInterface::getLogName()
{
    const char *login = ::getlogin();
    m_logName = login ? QString::fromUtf8(login).trimmed() : QString();
    if (!m_logName.isEmpty())
        return;

    m_logName = userNameOf(::getuid());
    // Else the lock service is asked once the system bus is up.
}

// The start waits for the lock service a bounded while, so that the first
// report and the first notices know the user; a later answer still fills the
// name and repeats the report. One question per start either way.
void AppstoreDaemonInterface::askLockService()
{
    const QDBusMessage call = QDBusMessage::createMethodCall(kLockService, kLockPath, kLockInterface,
                                                             QStringLiteral("CurrentUser"));
    const QDBusPendingCall pending = systemBus().asyncCall(call);
    // A pending call has no bounded wait of its own; the bus thread fills in
    // its reply without the main loop, so a short poll sees it come.
    const QDeadlineTimer bound(kBlockingCallTimeoutMs);
    while (!pending.isFinished() && !bound.hasExpired())
        QThread::msleep(2);
    if (pending.isFinished()) {
        takeCurrentUser(pending.reply());
        return;
    }
    auto *late = new QDBusPendingCallWatcher(pending, this);
    connect(late, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *call) {
        call->deleteLater();
        Guard guard([] { trimHeapSoon(); });
        if (m_logName.isEmpty() && takeCurrentUser(call->reply()))
            reportSystemProxyEnvironment(proxyEnvironmentText(m_proxyEnvironment));
    });
}

// Fills m_logName from a "CurrentUser" reply; true when it gave a name.
bool AppstoreDaemonInterface::takeCurrentUser(const QDBusMessage &reply)
{
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return false;

    const QString text = reply.arguments().constFirst().toString();
    if (isPeerTextTooLong(text)) {
        qCWarning(logMain) << "Parse CurrentUser failed:" << peerTextTooLongError() << cutForLog(text);
        return false;
    }
    const QByteArray answer = text.toUtf8();
    const CurrentUserAnswer user = parseCurrentUser(answer);
    if (!user.parsed) {
        qCWarning(logMain) << "Parse CurrentUser failed:" << user.parseError << cutForLog(answer);
        return false;
    }
    if (user.hasName && !user.name.isEmpty()) {
        if (!isPlausibleLoginName(user.name)) {
            qCWarning(logMain) << "CurrentUser name refused:" << cutForLog(user.name);
            return false;
        }
        m_logName = user.name;
        return true;
    }
    if (user.hasUid && user.uid)
        m_logName = userNameOf(*user.uid);
    return !m_logName.isEmpty();
}

void AppstoreDaemonInterface::slotUserChanged(const QString &userName)
{
    if (userName != m_logName)
        return;
    Guard guard([] { trimHeapSoon(); });

    reportSystemProxyEnvironment(proxyEnvironmentText(m_proxyEnvironment));
}

// ---------------------------------------------------------------------------
// Proxy reports

void AppstoreDaemonInterface::slotSystemProxyEnvironmentChanged()
{
    Guard guard([] { trimHeapSoon(); });

    const QVariantMap snapshot = SystemProxyMonitor::instance()->getEnvironment();
    if (snapshot == m_proxyEnvironment)
        return;
    m_proxyEnvironment = snapshot;
    // Without the system bus the report waits for the first one it brings.
    if (!m_daemonInterface)
        return;
    reportSystemProxyEnvironment(proxyEnvironmentText(m_proxyEnvironment));
}

void AppstoreDaemonInterface::reportSystemProxyEnvironment(const QString &environment)
{
    if (!m_daemonInterface)
        return;
    m_daemonInterface->call(QDBus::NoBlock, QStringLiteral("SetSystemProxy"), m_logName, environment);
    // The system daemon needs the passwords; the log does not.
    qCDebug(logMain).noquote() << "System Proxy:" << redactProxyPasswords(environment);
}

void AppstoreDaemonInterface::reportProxyMode(const QString &mode)
{
    if (!m_daemonInterface)
        return;
    m_daemonInterface->call(QDBus::NoBlock, QStringLiteral("reportMode"), mode);
}

void AppstoreDaemonInterface::reportManualProxy(const ProxyType &type, const QString &first, const QString &second)
{
    if (!m_daemonInterface)
        return;
    m_daemonInterface->call(QDBus::NoBlock, QStringLiteral("reportManualInfo"),
                            QString::number(static_cast<qint32>(type)), first, second);
}

// ---------------------------------------------------------------------------
// Notifications

void AppstoreDaemonInterface::callNotify(const QString &summary, const QString &body, const QString &openUrl,
                                         const QString &fromId)
{
    sendNotification(viewNotifyValues(summary, body, openUrl, fromId));
}

void AppstoreDaemonInterface::callPkgOpNotify(const E_OptStatus &status, const QString &appName,
                                              const QString &packageName)
{
    const std::optional<NotifyValues> values = pkgOpNotifyValues(status, appName, packageName);
    if (values)
        sendNotification(*values);
}

void AppstoreDaemonInterface::slotSystemNotificationSent(const QString &noticeJsonStr)
{
    // Only the owner of the system daemon's name is heard: it is alive.
    m_storeUnresponsive = false;
    if (!m_systemNoticeEnabled)
        return;
    Guard guard([] { trimHeapSoon(); });

    if (isPeerTextTooLong(noticeJsonStr)) {
        qCWarning(logMain) << "System notice dropped:" << peerTextTooLongError() << cutForLog(noticeJsonStr);
        return;
    }
    const std::optional<_System_Notification_Data> notice = systemNoticeFor(noticeJsonStr, m_logName);
    if (notice) {
        sendNotice([this, opt = notice->opt, appName = notice->appName, packageName = notice->packageName] {
            callPkgOpNotify(static_cast<E_OptStatus>(opt), appName, packageName);
        });
    }
}

// ---------------------------------------------------------------------------
// Bottle creation after an install

QPair<QString, int> AppstoreDaemonInterface::parseAppInfoJson(const QString &json)
{
    const AppBriefInfoResult result = parseAppBriefInfo(json);
    if (result.parseFailed)
        qCWarning(logMain) << "parse AppBriefInfo failed:" << result.parseError << cutForLog(json);
    return result.nameAndMode;
}

void AppstoreDaemonInterface::slotInstallProgress(const QString &id, const QString &packageName, const int &state,
                                                  const int &total, const int &progress, const QString &statusMsg)
{
    if (id != kAppName || state != 1 || progress != total)
        return;
    Guard guard([] { trimHeapSoon(); });

    const QPair<QString, int> brief = parseAppInfoJson(statusMsg);
    // One pass: a "%1" inside the package name must not take the mode.
    qCDebug(logMain) << QStringLiteral("Package %1 install succeeded, package_mode: %2")
                            .arg(cutForLog(packageName), QString::number(brief.second));
    if (brief.first.isEmpty() || brief.second != 1)
        return;

    // The name becomes a path and a shell word: anything that could leave
    // /opt/apps or reach the shell as syntax is refused.
    if (!isSafePackageName(packageName)) {
        qCWarning(logMain) << "Package name refused, skip creating bottle:" << cutForLog(packageName);
        return;
    }

    // Run as the session user: only root's own script, in a tree no one else
    // can change under it.
    const BottleScriptStart start = startBottleScript(QStringLiteral("/opt/apps"), packageName);
    if (start.outcome == BottleScriptStart::NotFound)
        qCWarning(logMain) << QStringLiteral("Package %1 run.sh not found, skip creating bottle").arg(packageName);
    else if (start.outcome == BottleScriptStart::Refused)
        qCWarning(logMain)
            << QStringLiteral("Package %1 run.sh refused, skip creating bottle: %2").arg(packageName, start.fault);
}

// ---------------------------------------------------------------------------
// Upgrade notices

void AppstoreDaemonInterface::slotGSettingsValueChanged(const QByteArray &schemaId, const QByteArray &path,
                                                        const QString &key, const QVariant &value)
{
    if (schemaId != kGSettingsAppStoreSchemaId || path != kGSettingsAppStorePath)
        return;
    Guard guard([] { trimHeapSoon(); });

    if (key == QLatin1String("appsIgnoreUpdates"))
        m_ignoreUpdateApps = value.toStringList();
}

void AppstoreDaemonInterface::slotLocalAppsUpgradeNotify(const QStringList &infos)
{
    // A list still queued when the system bus went away cannot be read on.
    if (infos.isEmpty() || !m_daemonInterface)
        return;
    Guard guard([] { trimHeapSoon(); });

    if (infos.size() > kMaxUpgradeListEntries) {
        qCWarning(logMain) << "Upgrade list dropped:" << infos.size() << "entries, more than" << kMaxUpgradeListEntries;
        return;
    }
    const auto tooLong = std::find_if(infos.cbegin(), infos.cend(), &isPeerTextTooLong);
    if (tooLong != infos.cend()) {
        qCWarning(logMain) << "Upgrade list entries" << std::count_if(tooLong, infos.cend(), &isPeerTextTooLong)
                           << "read as empty:" << peerTextTooLongError() << cutForLog(*tooLong);
    }

    // The stored date alone does not hold the daily limit while the system
    // daemon cannot be read or written; and what this process showed today
    // needs no blocking read to know.
    const QDate today = QDate::currentDate();
    if (today == m_noticeShownDate)
        return;
    if (m_storeUnresponsive) {
        qCWarning(logMain) << "System daemon does not answer, upgrade list dropped";
        probeStore();
        return;
    }

    // Each read has its own bound: a slow daemon that answers both is heard.
    // A hung one still holds the loop (and a pending SIGTERM) for one bound
    // only, since the date is not asked after the flag read timed out. A read
    // that runs out of time leaves nothing known: no notice, no date written,
    // and the next list tries again. Only an answer, an error reply included,
    // lets the notice go on.
    bool timedOut = false;
    const bool checking = getLocalUpgradeCheckStatus(kBlockingCallTimeoutMs, &timedOut);
    if (timedOut) {
        storeTimedOut("LocalUpgradeCheckStatus");
        return;
    }
    if (checking)
        return;

    const QString stored = readNotifyTime(kBlockingCallTimeoutMs, &timedOut);
    if (timedOut) {
        storeTimedOut("GetConfigByNodeName upgradeNoticeTime");
        return;
    }
    const QDate lastNotice = QDate::fromString(stored, kDateFormat);
    qCDebug(logMain) << QStringLiteral("Last notify date: %1, current date: %2")
                            .arg(lastNotice.toString(kDateFormat), today.toString(kDateFormat));
    if (today == lastNotice)
        return;

    // Raw here; made fit for the server when the notice goes out.
    const QStringList names = upgradeNoticeNames(infos, m_isWayland, m_ignoreUpdateApps);
    if (names.isEmpty())
        return;

    const QVariant notNotify = GSettingsWatcher::instance()->getValueSync(
        kGSettingsAppStoreSchemaId, kGSettingsAppStorePath, QStringLiteral("updateAppsNotNotify"));
    if (notNotify.isValid() && notNotify.toBool())
        return;

    // The day is stored when the notice goes out, which may be after the
    // server's answer; this process holds the day from here on.
    sendNotice([this, names] {
        callNotify(QObject::tr("App Updates are available"), upgradeNoticeBody(namesForBody(names, m_bodyMarkup)),
                   kUpdatePageUrl, kNoticeSourceId);
        writeNotifyTime();
    });
    m_noticeShownDate = today;
}

QString AppstoreDaemonInterface::readNotifyTime(int timeoutMs, bool *timedOut)
{
    QString date = QStringLiteral("19700101");
    if (timedOut)
        *timedOut = timeoutMs <= 0;
    if (timeoutMs <= 0) {
        qCWarning(logMain) << "GetConfigByNodeName upgradeNoticeTime failed:"
                           << QStringLiteral("no time left to wait for the system daemon");
        return date;
    }
    // Sent as a message of its own: the interface's call() pads an empty reply
    // with an invalid value, which would read as an empty date.
    QDBusMessage get = QDBusMessage::createMethodCall(kDaemonService, kDaemonPath, kDaemonInterface,
                                                      QStringLiteral("GetConfigByNodeName"));
    get << kUpgradeNoticeNode;
    const QDBusMessage reply = m_daemonInterface->connection().call(get, QDBus::Block, timeoutMs);
    if (timedOut)
        *timedOut = isTimeOut(reply);
    if (reply.type() == QDBusMessage::ReplyMessage) {
        if (!reply.arguments().isEmpty()) {
            QVariant value = reply.arguments().constFirst();
            // A date sent in a variant is still the date.
            if (value.userType() == qMetaTypeId<QDBusVariant>())
                value = value.value<QDBusVariant>().variant();
            // A date is eight digits: a much longer answer is refused unread,
            // as an error reply is.
            const QString answer = value.toString();
            if (answer.size() <= kMaxDateAnswerChars)
                date = answer;
            else
                qCWarning(logMain) << "GetConfigByNodeName upgradeNoticeTime failed:"
                                   << QStringLiteral("answer longer than %1 characters").arg(kMaxDateAnswerChars)
                                   << cutForLog(answer);
        }
    } else {
        qCWarning(logMain) << "GetConfigByNodeName upgradeNoticeTime failed:" << cutForLog(reply.errorMessage());
    }
    return date;
}

void AppstoreDaemonInterface::writeNotifyTime()
{
    if (!m_daemonInterface) {
        m_unstoredNoticeDate = QDate::currentDate();
        return;
    }
    m_daemonInterface->call(QDBus::NoBlock, QStringLiteral("SetConfigByNodeName"), kUpgradeNoticeNode,
                            QDate::currentDate().toString(kDateFormat));
}

bool AppstoreDaemonInterface::getLocalUpgradeCheckStatus(int timeoutMs, bool *timedOut)
{
    // Asked through Properties.Get: the proxy holds no description of its peer.
    QDBusMessage get = QDBusMessage::createMethodCall(
        kDaemonService, kDaemonPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << kDaemonInterface << QStringLiteral("LocalUpgradeCheckStatus");
    const QDBusMessage reply = m_daemonInterface->connection().call(get, QDBus::Block, timeoutMs);
    if (timedOut)
        *timedOut = isTimeOut(reply);

    bool status = false;
    if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
        const QVariant value = reply.arguments().constFirst().value<QDBusVariant>().variant();
        status = value.toBool();
    }
    qCDebug(logMain).noquote() << "LocalUpgradeCheckStatus:" << (status ? "true" : "false");
    return status;
}
