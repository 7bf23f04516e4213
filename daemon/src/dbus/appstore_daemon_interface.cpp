#include "dbus/appstore_daemon_interface.h"

#include "dbus/bottle_script.h"
#include "dbus/bus_thread.h"
#include "dbus/notice_values.h"
#include "dbus/system_daemon_interface.h"
#include "gsettings/gsettings_watcher.h"
#include "proxy/system_proxy_monitor.h"
#include "util/guard.h"
#include "util/log_category.h"

#include <nuvixcore/nnotifysender.h>
#include <nuvixcore/nsysinfo.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QDate>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTimer>

#include <malloc.h>
#include <pwd.h>
#include <sys/types.h>
#include <unistd.h>

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

const QString kAppName = QLatin1String(kNoticeAppName);
const QString kUpgradeNoticeNode = QStringLiteral("upgradeNoticeTime");
const QString kDateFormat = QStringLiteral("yyyyMMdd");
const QString kUpdatePageUrl = QStringLiteral("appstore://orvane-home-appstore-client?tab/update");
const QString kNoticeSourceId = QStringLiteral("1e0ef2b9dac84d8b8bef12625170f82f");

constexpr int kTrimDelayMs = 100;

QString userNameOf(uid_t uid)
{
    const passwd *entry = ::getpwuid(uid);
    return entry ? QString::fromUtf8(entry->pw_name).trimmed() : QString();
}

// Hands freed heap back to the system once the events queued now are handled.
// malloc_trim walks the whole heap: made after every event of a burst, it
// slowed each event as the waiting messages swelled the heap, until a flood
// left the daemon minutes behind. An event on its own still gets its trim, a
// burst gets one at its end. The messages of those events are freed by then,
// so it is also when reading may have to be switched back on.
void trimHeapSoon()
{
    static bool pending = false;
    if (pending)
        return;
    pending = true;
    QTimer::singleShot(kTrimDelayMs, [] {
        pending = false;
        malloc_trim(0);
        resumeBusReading();
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

    // Answers through sigValueChanged at once, so the list is filled before
    // the first upgrade signal can arrive.
    GSettingsWatcher::instance()->getValueAsync(kGSettingsAppStoreSchemaId, kGSettingsAppStorePath,
                                                QStringLiteral("appsIgnoreUpdates"));

    m_daemonInterface = new SystemDaemonInterface(kDaemonService, kDaemonPath, kDaemonInterfaceName,
                                                  QDBusConnection::systemBus(), this);

    initDBusConnections();
    watchSystemDaemon();
    watchNotificationServer();

    slotSystemProxyEnvironmentChanged();
}

AppstoreDaemonInterface::~AppstoreDaemonInterface()
{
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

void AppstoreDaemonInterface::initDBusConnections()
{
    // Subscribed by service name: the bus library then delivers only signals
    // sent by the owner of that name, so no other user can inject notices.
    QDBusConnection bus = QDBusConnection::systemBus();
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

void AppstoreDaemonInterface::watchSystemDaemon()
{
    // The system daemon keeps no proxy across its own restart, and it may start
    // after this session: give every new owner of its name the last report.
    auto *watcher = new QDBusServiceWatcher(kDaemonService, QDBusConnection::systemBus(),
                                            QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString &, const QString &, const QString &newOwner) {
                if (newOwner.isEmpty())
                    return;
                reportSystemProxyEnvironment(proxyEnvironmentText(m_proxyEnvironment));
            });
}

void AppstoreDaemonInterface::watchNotificationServer()
{
    // App names come from packages: a server that reads bodies as markup
    // must get them escaped. Its capabilities are asked without blocking,
    // and again from every new owner of its name.
    auto *watcher = new QDBusServiceWatcher(kNotifyService, QDBusConnection::sessionBus(),
                                            QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString &, const QString &, const QString &newOwner) {
                ++m_capabilitiesQuery;
                m_bodyMarkup = false;
                if (!newOwner.isEmpty())
                    askNotificationCapabilities();
            });
    askNotificationCapabilities();
}

void AppstoreDaemonInterface::askNotificationCapabilities()
{
    const QDBusMessage ask = QDBusMessage::createMethodCall(kNotifyService, kNotifyPath, kNotifyService,
                                                            QStringLiteral("GetCapabilities"));
    auto *pending = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(ask), this);
    const quint64 query = ++m_capabilitiesQuery;
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this, query](QDBusPendingCallWatcher *call) {
        call->deleteLater();
        const QDBusPendingReply<QStringList> reply = *call;
        if (query != m_capabilitiesQuery || reply.isError())
            return;
        m_bodyMarkup = reply.value().contains(QStringLiteral("body-markup"));
    });
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
    if (!m_logName.isEmpty())
        return;

    const QDBusMessage call = QDBusMessage::createMethodCall(kLockService, kLockPath, kLockInterface,
                                                             QStringLiteral("CurrentUser"));
    const QDBusMessage reply = QDBusConnection::systemBus().call(call, QDBus::Block, kBlockingCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return;

    const QByteArray answer = reply.arguments().constFirst().toString().toUtf8();
    const CurrentUserAnswer user = parseCurrentUser(answer);
    if (!user.parsed) {
        qCWarning(logMain) << "Parse CurrentUser failed:" << user.parseError << cutForLog(answer);
        return;
    }
    if (user.hasName && !user.name.isEmpty()) {
        if (!isPlausibleLoginName(user.name)) {
            qCWarning(logMain) << "CurrentUser name refused:" << cutForLog(user.name);
            return;
        }
        m_logName = user.name;
        return;
    }
    if (user.hasUid && user.uid)
        m_logName = userNameOf(*user.uid);
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
    reportSystemProxyEnvironment(proxyEnvironmentText(m_proxyEnvironment));
}

void AppstoreDaemonInterface::reportSystemProxyEnvironment(const QString &environment)
{
    m_daemonInterface->call(QDBus::NoBlock, QStringLiteral("SetSystemProxy"), m_logName, environment);
    // The system daemon needs the passwords; the log does not.
    qCDebug(logMain).noquote() << "System Proxy:" << redactProxyPasswords(environment);
}

void AppstoreDaemonInterface::reportProxyMode(const QString &mode)
{
    m_daemonInterface->call(QDBus::NoBlock, QStringLiteral("reportMode"), mode);
}

void AppstoreDaemonInterface::reportManualProxy(const ProxyType &type, const QString &first, const QString &second)
{
    m_daemonInterface->call(QDBus::NoBlock, QStringLiteral("reportManualInfo"),
                            QString::number(static_cast<qint32>(type)), first, second);
}

// ---------------------------------------------------------------------------
// Notifications

void AppstoreDaemonInterface::callNotify(const QString &summary, const QString &body, const QString &openUrl,
                                         const QString &fromId)
{
    const QStringList actions{QStringLiteral("show_detail"), QObject::tr("View")};
    const QString command = QStringLiteral("orvane-home-appstore-client,%1,--from,%2").arg(openUrl).arg(fromId);
    const QVariantMap hints{{QStringLiteral("x-orvane-action-show_detail"), command}};

    Nuvix::Core::NUtil::NNotifySender(summary)
        .appName(kAppName)
        .replaceId(0)
        .appIcon(QStringLiteral("orvane-app-store"))
        .appBody(body)
        .actions(actions)
        .hints(hints)
        .timeOut(-1)
        .call();
}

void AppstoreDaemonInterface::callPkgOpNotify(const E_OptStatus &status, const QString &appName,
                                              const QString &packageName)
{
    const std::optional<NotifyValues> values = pkgOpNotifyValues(status, appName, packageName);
    if (!values)
        return;

    Nuvix::Core::NUtil::NNotifySender(values->summary)
        .appName(values->appName)
        .replaceId(values->replaceId)
        .appIcon(values->appIcon)
        .appBody(values->body)
        .actions(values->actions)
        .hints(values->hints)
        .timeOut(values->timeout)
        .call();
}

void AppstoreDaemonInterface::slotSystemNotificationSent(const QString &noticeJsonStr)
{
    if (!m_systemNoticeEnabled)
        return;
    Guard guard([] { trimHeapSoon(); });

    const std::optional<_System_Notification_Data> notice = systemNoticeFor(noticeJsonStr, m_logName);
    if (notice)
        callPkgOpNotify(static_cast<E_OptStatus>(notice->opt), notice->appName, notice->packageName);
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
        qCWarning(logMain) << QStringLiteral("Package %1 run.sh refused, skip creating bottle: %2")
                                  .arg(packageName, start.fault);
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
    if (infos.isEmpty())
        return;
    Guard guard([] { trimHeapSoon(); });

    // Both reads share one budget, so that a hung system daemon holds the
    // loop (and a pending SIGTERM) for one time-out per list, not two.
    const QDeadlineTimer budget(kBlockingCallTimeoutMs);
    if (getLocalUpgradeCheckStatus())
        return;

    const QDate lastNotice = QDate::fromString(readNotifyTime(int(budget.remainingTime())), kDateFormat);
    const QDate today = QDate::currentDate();
    qCDebug(logMain) << QStringLiteral("Last notify date: %1, current date: %2")
                            .arg(lastNotice.toString(kDateFormat), today.toString(kDateFormat));
    // The stored date alone does not hold the daily limit while the system
    // daemon cannot be read or written.
    if (today == lastNotice || today == m_noticeShownDate)
        return;

    const QStringList names = upgradeNoticeNames(infos, m_isWayland, m_ignoreUpdateApps, m_bodyMarkup);
    if (names.isEmpty())
        return;

    const QString summary = QObject::tr("App Updates are available");
    const QString body = upgradeNoticeBody(names);

    const QVariant notNotify = GSettingsWatcher::instance()->getValueSync(
        kGSettingsAppStoreSchemaId, kGSettingsAppStorePath, QStringLiteral("updateAppsNotNotify"));
    if (notNotify.isValid() && notNotify.toBool())
        return;

    callNotify(summary, body, kUpdatePageUrl, kNoticeSourceId);
    m_noticeShownDate = today;
    writeNotifyTime();
}

QString AppstoreDaemonInterface::readNotifyTime(int timeoutMs)
{
    QString date = QStringLiteral("19700101");
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
    if (reply.type() == QDBusMessage::ReplyMessage) {
        if (!reply.arguments().isEmpty())
            date = reply.arguments().constFirst().toString();
    } else {
        qCWarning(logMain) << "GetConfigByNodeName upgradeNoticeTime failed:" << cutForLog(reply.errorMessage());
    }
    return date;
}

void AppstoreDaemonInterface::writeNotifyTime()
{
    m_daemonInterface->call(QDBus::NoBlock, QStringLiteral("SetConfigByNodeName"), kUpgradeNoticeNode,
                            QDate::currentDate().toString(kDateFormat));
}

bool AppstoreDaemonInterface::getLocalUpgradeCheckStatus(int timeoutMs)
{
    // Asked through Properties.Get: the proxy holds no description of its peer.
    QDBusMessage get = QDBusMessage::createMethodCall(kDaemonService, kDaemonPath,
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get << kDaemonInterface << QStringLiteral("LocalUpgradeCheckStatus");
    const QDBusMessage reply = m_daemonInterface->connection().call(get, QDBus::Block, timeoutMs);

    bool status = false;
    if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
        const QVariant value = reply.arguments().constFirst().value<QDBusVariant>().variant();
        status = value.toBool();
    }
    qCDebug(logMain).noquote() << "LocalUpgradeCheckStatus:" << (status ? "true" : "false");
    return status;
}
