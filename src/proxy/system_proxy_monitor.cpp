#include "proxy/system_proxy_monitor.h"

#include "util/log_category.h"

#include <QGSettings>
#include <QNetworkProxy>
#include <QNetworkProxyFactory>
#include <QUrl>

namespace {
const char kProxySchemaId[] = "com.orvane.wrap.gnome.system.proxy";

const QString kModeKey = QStringLiteral("mode");
const QString kAutoconfigUrlKey = QStringLiteral("autoconfigUrl");
const QString kIgnoreHostsKey = QStringLiteral("ignoreHosts");

const QString kModeNone = QStringLiteral("none");
const QString kModeManual = QStringLiteral("manual");
const QString kModeAuto = QStringLiteral("auto");

const char kHttpProxy[] = "http_proxy";
const char kHttpsProxy[] = "https_proxy";
const char kFtpProxy[] = "ftp_proxy";
const char kSocksServer[] = "SOCKS_SERVER";
const char kAllProxy[] = "all_proxy";
const char kNoProxy[] = "no_proxy";
const char kAutoProxy[] = "auto_proxy";

const char *const kEnvironmentVariables[] = {kHttpProxy, kHttpsProxy, kFtpProxy, kSocksServer,
                                             kAllProxy,  kNoProxy,    kAutoProxy};

void setVariable(const char *name, const QString &value)
{
    qputenv(name, value.toUtf8());
}

// Userinfo may hold unreserved characters and sub-delims as they are; ":"
// separates user from password and "@" ends the userinfo, so both are encoded
// along with everything else.
QString encodeUserInfo(const QString &text)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(text, QByteArrayLiteral("!$&'()*+,;=")));
}
} // namespace

SystemProxyMonitor *SystemProxyMonitor::m_instance = nullptr;

SystemProxyMonitor *SystemProxyMonitor::instance()
{
    if (!m_instance)
        m_instance = new SystemProxyMonitor(nullptr);
    return m_instance;
}

SystemProxyMonitor::SystemProxyMonitor(QObject *parent)
    : QObject(parent)
{
    // GLib aborts the process on an unknown schema; without one the desktop
    // has no proxy settings to follow, so the inherited environment stays.
    const bool schemaInstalled = QGSettings::isSchemaInstalled(kProxySchemaId);
    if (schemaInstalled) {
        m_gsettings = new QGSettings(kProxySchemaId, QByteArray(), this);
        m_keys = m_gsettings->keys();
        QStringList missingKeys;
        for (const QString &key : {kModeKey, kAutoconfigUrlKey, kIgnoreHostsKey}) {
            if (!m_keys.contains(key))
                missingKeys.append(key);
        }
        if (!missingKeys.isEmpty())
            qCWarning(logMain) << "Proxy settings schema" << QByteArray(kProxySchemaId)
                               << "lacks keys, reading them as unset:" << missingKeys;
    } else {
        qCWarning(logMain) << "Proxy settings schema is not installed, ignoring it:" << QByteArray(kProxySchemaId);
    }

    QNetworkProxyFactory::setUseSystemConfiguration(true);

    for (const ManualProxyType type : {HTTP, HTTPS, FTP, SOCKS}) {
        auto *config = new ManualProxyConfig(type, this);
        m_manualProxyConfigs.insert(type, config);
        connect(config, &ManualProxyConfig::sigManualProxyConfigChanged, this,
                &SystemProxyMonitor::slotManualProxyConfigChanged);
    }

    if (schemaInstalled) {
        connect(m_gsettings, &QGSettings::changed, this, &SystemProxyMonitor::slotGSettingsValueChanged);
        // "mode" first: the other two keys are written according to it.
        slotGSettingsValueChanged(kModeKey);
        slotGSettingsValueChanged(kAutoconfigUrlKey);
        slotGSettingsValueChanged(kIgnoreHostsKey);
    }

    m_initialized = true;
}

SystemProxyMonitor::~SystemProxyMonitor()
{
    // A later instance() (a plugin started again) must build a new monitor.
    if (m_instance == this)
        m_instance = nullptr;
}

QVariantMap SystemProxyMonitor::getEnvironment() const
{
    QVariantMap environment;
    for (const char *name : kEnvironmentVariables) {
        const QByteArray value = qgetenv(name);
        // A set but empty variable must stay distinguishable from an unset one.
        environment.insert(QString::fromLatin1(name),
                           value.isNull() ? QString() : QString::fromUtf8(value.constData(), value.size()));
    }
    return environment;
}

void SystemProxyMonitor::resetApplicationManualProxy()
{
    for (const ManualProxyType type : {HTTPS, HTTP, SOCKS}) {
        const ManualProxyConfig *config = m_manualProxyConfigs.value(type);
        if (config && config->isValid()) {
            QNetworkProxy::setApplicationProxy(config->networkProxy());
            return;
        }
    }
    QNetworkProxy::setApplicationProxy(QNetworkProxy(QNetworkProxy::DefaultProxy, QString(), 0));
}

QString SystemProxyMonitor::proxyUrl(ManualProxyType type, const QString &host, quint16 port,
                                     bool useAuthentication, const QString &user, const QString &password)
{
    QString url = type == SOCKS ? QStringLiteral("socks5://") : QStringLiteral("http://");
    if (useAuthentication)
        url += encodeUserInfo(user) + QLatin1Char(':') + encodeUserInfo(password) + QLatin1Char('@');
    // An IPv6 address needs brackets, or its colons run into the port's.
    if (host.contains(QLatin1Char(':')) && !host.startsWith(QLatin1Char('[')))
        url += QLatin1Char('[') + host + QLatin1Char(']');
    else
        url += host;
    url += QLatin1Char(':') + QString::number(port);
    return url;
}

QVariant SystemProxyMonitor::value(const QString &key) const
{
    return m_keys.contains(key) ? m_gsettings->get(key) : QVariant();
}

void SystemProxyMonitor::setNoProxy()
{
    setVariable(kNoProxy, value(kIgnoreHostsKey).toStringList().join(QLatin1Char(',')));
}

void SystemProxyMonitor::slotGSettingsValueChanged(const QString &key)
{
    if (key == kAutoconfigUrlKey) {
        if (m_proxyMode != kModeAuto)
            qunsetenv(kAutoProxy);
        else
            setVariable(kAutoProxy, value(kAutoconfigUrlKey).toString());
    } else if (key == kIgnoreHostsKey) {
        if (m_proxyMode != kModeManual)
            qunsetenv(kNoProxy);
        else
            setNoProxy();
    } else if (key == kModeKey) {
        m_proxyMode = value(kModeKey).toString();
        if (m_proxyMode == kModeNone) {
            for (const char *name : {kSocksServer, kAllProxy, kFtpProxy, kHttpProxy, kHttpsProxy, kNoProxy, kAutoProxy})
                qunsetenv(name);
        } else if (m_proxyMode == kModeAuto) {
            for (const char *name : {kSocksServer, kAllProxy, kFtpProxy, kHttpProxy, kHttpsProxy, kNoProxy})
                qunsetenv(name);
            setVariable(kAutoProxy, value(kAutoconfigUrlKey).toString());
        } else if (m_proxyMode == kModeManual) {
            qunsetenv(kAutoProxy);
            // Set before the protocol updates, so that every snapshot taken on
            // their emissions already carries the hosts that bypass the proxy.
            setNoProxy();
            for (const ManualProxyType type : {HTTP, HTTPS, FTP, SOCKS})
                slotManualProxyConfigChanged(type);
        }
    } else {
        return;
    }

    if (m_initialized)
        Q_EMIT sigEnvironmentChanged();
}

void SystemProxyMonitor::slotManualProxyConfigChanged(ManualProxyType proxyType)
{
    if (m_proxyMode != kModeManual)
        return;

    QString url;
    const ManualProxyConfig *config = m_manualProxyConfigs.value(proxyType);
    if (config && config->isValid()) {
        const QNetworkProxy proxy = config->networkProxy();
        url = proxyUrl(proxyType, proxy.hostName(), proxy.port(), config->useAuthentication(), proxy.user(),
                       proxy.password());
    }

    const auto write = [&url](const char *name) {
        if (url.isEmpty())
            qunsetenv(name);
        else
            setVariable(name, url);
    };
    switch (proxyType) {
    case HTTP:
        write(kHttpProxy);
        break;
    case HTTPS:
        write(kHttpsProxy);
        break;
    case FTP:
        write(kFtpProxy);
        break;
    case SOCKS:
        write(kSocksServer);
        write(kAllProxy);
        break;
    }

    if (m_initialized)
        Q_EMIT sigEnvironmentChanged();
}
