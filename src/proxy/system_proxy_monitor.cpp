// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

#include "proxy/system_proxy_monitor.h"

#include "gsettings/settings_schema.h"
#include "logging/log_category.h"
#include "proxy/proxy_values.h"

#include <QGSettings>
#include <QNetworkProxy>
#include <QNetworkProxyFactory>

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

const char *protocolName(ManualProxyType type)
{
    switch (type) {
    case HTTP:
        return "http";
    case HTTPS:
        return "https";
    case FTP:
        return "ftp";
    case SOCKS:
        return "socks";
    }
    return "unknown";
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
    m_schema = SettingsSchema(kProxySchemaId);
    // Opened at its own path: a relocatable schema of that name has none.
    if (m_schema.isInstalled()) {
        m_gsettings = m_schema.open(QByteArray(), this);
        if (!m_gsettings) {
            qCWarning(logMain) << "Proxy settings schema has no path of its own, ignoring it:"
                               << QByteArray(kProxySchemaId);
            m_schema = SettingsSchema();
        }
    } else {
        qCWarning(logMain) << "Proxy settings schema is not installed, ignoring it:" << QByteArray(kProxySchemaId);
    }
    const bool followsSettings = m_gsettings != nullptr;
    if (followsSettings) {
        const QStringList missingKeys = m_schema.missingKeys({kModeKey, kAutoconfigUrlKey, kIgnoreHostsKey});
        if (!missingKeys.isEmpty()) {
            // Written as Qt 5 prints a string list: Qt 6 would add "QList".
            const QString printedKeys = QStringLiteral("(\"%1\")").arg(missingKeys.join(QStringLiteral("\", \"")));
            qCWarning(logMain) << "Proxy settings schema" << QByteArray(kProxySchemaId)
                               << "lacks keys, reading them as unset:" << qUtf8Printable(printedKeys);
        }
    }

    QNetworkProxyFactory::setUseSystemConfiguration(true);

    for (const ManualProxyType type : {HTTP, HTTPS, FTP, SOCKS}) {
        auto *config = new ManualProxyConfig(type, this);
        m_manualProxyConfigs.insert(type, config);
        connect(config, &ManualProxyConfig::sigManualProxyConfigChanged, this,
                &SystemProxyMonitor::slotManualProxyConfigChanged);
    }

    if (followsSettings) {
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

QList<QByteArray> SystemProxyMonitor::environmentVariables()
{
    QList<QByteArray> names;
    for (const char *name : kEnvironmentVariables)
        names.append(QByteArray(name));
    return names;
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
        // A host the environment refuses is no better for the network stack.
        if (config && config->isValid() && !proxyUrlHost(config->networkProxy().hostName()).isEmpty()) {
            QNetworkProxy::setApplicationProxy(config->networkProxy());
            return;
        }
    }
    QNetworkProxy::setApplicationProxy(QNetworkProxy(QNetworkProxy::DefaultProxy, QString(), 0));
}

QVariant SystemProxyMonitor::value(const QString &key) const
{
    return m_schema.hasKey(key) ? m_gsettings->get(key) : QVariant();
}

void SystemProxyMonitor::setNoProxy()
{
    const QStringList ignoreHosts = value(kIgnoreHostsKey).toStringList();
    const IgnoreHostsFilter filter = filterIgnoreHosts(ignoreHosts);
    // The list is read both for "mode" and for its own key: once is enough.
    if (filter.dropped > 0 && ignoreHosts != m_refusedIgnoreHosts)
        qCWarning(logMain).nospace()
            << "Leaving " << filter.dropped
            << " proxy bypass entries out of no_proxy: they hold control characters or are too long";
    m_refusedIgnoreHosts = filter.dropped > 0 ? ignoreHosts : QStringList();
    setVariable(kNoProxy, filter.hosts.join(QLatin1Char(',')));
}

void SystemProxyMonitor::setAutoProxy()
{
    const QString configured = value(kAutoconfigUrlKey).toString();
    const std::optional<QString> url = autoProxyValue(configured);
    if (url) {
        m_refusedAutoconfigUrl.reset();
        setVariable(kAutoProxy, *url);
        return;
    }
    // The URL is read both for "mode" and for its own key: once is enough.
    if (m_refusedAutoconfigUrl != configured)
        qCWarning(logMain) << "Leaving auto_proxy unset: the automatic proxy configuration URL holds control "
                              "characters or is too long";
    m_refusedAutoconfigUrl = configured;
    qunsetenv(kAutoProxy);
}

void SystemProxyMonitor::slotGSettingsValueChanged(const QString &key)
{
    if (key == kAutoconfigUrlKey) {
        if (m_proxyMode != kModeAuto)
            qunsetenv(kAutoProxy);
        else
            setAutoProxy();
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
            setAutoProxy();
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
    QString refused;
    const ManualProxyConfig *config = m_manualProxyConfigs.value(proxyType);
    if (config && config->isValid()) {
        const QNetworkProxy proxy = config->networkProxy();
        url = manualProxyUrl(proxyType, proxy.hostName(), proxy.port(), config->useAuthentication(), proxy.user(),
                             proxy.password());
        const bool badHost = url.isEmpty() && proxyUrlHost(proxy.hostName()).isEmpty();
        if (badHost)
            refused = QLatin1Char('h') + proxy.hostName();
        else if (url.isEmpty())
            refused = QStringList{QStringLiteral("l"), proxy.hostName(), QString::number(proxy.port()), proxy.user(),
                                  proxy.password()}
                          .join(QChar());
        // Once per refused value, not again at each switch of mode or change
        // of another key; and never the host itself: it may hold anything,
        // credentials included.
        if (!refused.isEmpty() && refused != m_refusedManualProxies.value(proxyType)) {
            if (badHost)
                qCWarning(logMain).noquote() << "Leaving the" << protocolName(proxyType)
                                             << "proxy unset: its host is not a valid host name or address";
            else
                qCWarning(logMain).noquote()
                    << "Leaving the" << protocolName(proxyType) << "proxy unset: its URL would be longer than"
                    << kMaxProxyUrlLength << "characters";
        }
    }
    if (refused.isEmpty())
        m_refusedManualProxies.remove(proxyType);
    else
        m_refusedManualProxies.insert(proxyType, refused);

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
