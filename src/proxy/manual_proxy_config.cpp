// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

#include "proxy/manual_proxy_config.h"

#include "logging/log_category.h"

#include <QGSettings>
#include <QStringList>
#include <QVariant>

#include <optional>

namespace {
const QString kHostKey = QStringLiteral("host");
const QString kPortKey = QStringLiteral("port");
const QString kUseAuthenticationKey = QStringLiteral("useAuthentication");
const QString kUserKey = QStringLiteral("authenticationUser");
const QString kPasswordKey = QStringLiteral("authenticationPassword");

struct ProtocolSettings
{
    const char *schemaId;
    QNetworkProxy::ProxyType networkProxyType;
};

std::optional<ProtocolSettings> protocolSettings(ManualProxyType proxyType)
{
    switch (proxyType) {
    case HTTP:
        return ProtocolSettings{"com.orvane.wrap.gnome.system.proxy.http", QNetworkProxy::HttpProxy};
    case HTTPS:
        return ProtocolSettings{"com.orvane.wrap.gnome.system.proxy.https", QNetworkProxy::HttpProxy};
    case FTP:
        return ProtocolSettings{"com.orvane.wrap.gnome.system.proxy.ftp", QNetworkProxy::FtpCachingProxy};
    case SOCKS:
        return ProtocolSettings{"com.orvane.wrap.gnome.system.proxy.socks", QNetworkProxy::Socks5Proxy};
    }
    return std::nullopt;
}

// 0, which makes the configuration invalid, for a port outside 1..65535:
// cutting it to 16 bits would send the traffic to some unrelated port.
quint16 portFromSetting(const QVariant &value)
{
    bool ok = false;
    const qlonglong port = value.toLongLong(&ok);
    return ok && port >= 1 && port <= 65535 ? quint16(port) : 0;
}
} // namespace

ManualProxyConfig::ManualProxyConfig(ManualProxyType proxyType, QObject *parent)
    : QObject(parent)
    , m_proxyType(proxyType)
{
    const std::optional<ProtocolSettings> settings = protocolSettings(proxyType);
    if (!settings) {
        qCWarning(logMain) << "Unknown manual proxy type" << int(proxyType);
        return;
    }
    m_networkProxy.setType(settings->networkProxyType);

    // GLib aborts the whole process on a schema it does not know; a desktop
    // without this protocol's schema simply has no proxy for it.
    const QByteArray schemaId(settings->schemaId);
    m_schema = SettingsSchema(schemaId);
    if (!m_schema.isInstalled()) {
        qCWarning(logMain) << "Proxy settings schema is not installed, ignoring it:" << schemaId;
        return;
    }
    // Opened at its own path: a relocatable schema of that name has none.
    m_gsettings = m_schema.open(QByteArray(), this);
    if (!m_gsettings) {
        qCWarning(logMain) << "Proxy settings schema has no path of its own, ignoring it:" << schemaId;
        m_schema = SettingsSchema();
        return;
    }

    // The same holds for a key an older schema lacks: only keys of the schema are read.
    const QStringList missingKeys = m_schema.missingKeys(
        {kHostKey, kPortKey, kUseAuthenticationKey, kUserKey, kPasswordKey});
    if (!missingKeys.isEmpty()) {
        // Written as Qt 5 prints a string list: Qt 6 would add "QList".
        const QString printedKeys = QStringLiteral("(\"%1\")").arg(missingKeys.join(QStringLiteral("\", \"")));
        qCWarning(logMain) << "Proxy settings schema" << schemaId
                           << "lacks keys, reading them as unset:" << qUtf8Printable(printedKeys);
    }

    connect(m_gsettings, &QGSettings::changed, this, &ManualProxyConfig::slotGSettingsValueChanged);

    for (const QString &key : {kHostKey, kPortKey, kUseAuthenticationKey, kUserKey, kPasswordKey})
        slotGSettingsValueChanged(key);
}

ManualProxyConfig::~ManualProxyConfig() = default;

bool ManualProxyConfig::isValid() const
{
    return m_valid;
}

bool ManualProxyConfig::useAuthentication() const
{
    return m_useAuthentication;
}

QNetworkProxy ManualProxyConfig::networkProxy() const
{
    return m_valid ? m_networkProxy : QNetworkProxy();
}

QVariant ManualProxyConfig::value(const QString &key) const
{
    return m_schema.hasKey(key) ? m_gsettings->get(key) : QVariant();
}

void ManualProxyConfig::reloadCredentials()
{
    m_networkProxy.setUser(value(kUserKey).toString());
    m_networkProxy.setPassword(value(kPasswordKey).toString());
}

void ManualProxyConfig::slotGSettingsValueChanged(const QString &key)
{
    // Only the keys this class uses are read: gsettings-qt reports some other
    // keys under names GLib does not know ("level2" for "level-2"), and GLib
    // ends the process when asked for one of those. Any other key of the
    // schema still goes through the checks below; a used key the schema
    // lacks (an older desktop) is not looked at at all.
    const bool used = key == kHostKey || key == kPortKey || key == kUseAuthenticationKey || key == kUserKey
        || key == kPasswordKey;
    if (used && !m_schema.hasKey(key))
        return;
    const QVariant changedValue = used ? m_gsettings->get(key) : QVariant();
    bool changed = false;

    if (key == kHostKey) {
        const QString host = changedValue.toString();
        if (host != m_networkProxy.hostName()) {
            m_networkProxy.setHostName(host);
            changed = true;
        }
    } else if (key == kPortKey) {
        const quint16 port = portFromSetting(changedValue);
        if (port != m_networkProxy.port()) {
            m_networkProxy.setPort(port);
            changed = true;
        }
    }

    const bool addressValid = !m_networkProxy.hostName().isEmpty() && m_networkProxy.port() != 0;
    if (addressValid != m_valid) {
        m_valid = addressValid;
        changed = true;
    }

    if (key == kUseAuthenticationKey) {
        const bool useAuthentication = changedValue.toBool();
        if (useAuthentication != m_useAuthentication) {
            m_useAuthentication = useAuthentication;
            changed = true;
            // Switching authentication off dropped the credentials; their keys
            // need not change again, so take them back from the store.
            if (m_useAuthentication)
                reloadCredentials();
        }
    }

    if (m_useAuthentication) {
        if (key == kUserKey) {
            const QString user = changedValue.toString();
            if (user != m_networkProxy.user()) {
                m_networkProxy.setUser(user);
                changed = true;
            }
        } else if (key == kPasswordKey) {
            const QString password = changedValue.toString();
            if (password != m_networkProxy.password()) {
                m_networkProxy.setPassword(password);
                changed = true;
            }
        }
        if (m_valid) {
            const bool credentialsValid = !m_networkProxy.user().isEmpty() && !m_networkProxy.password().isEmpty();
            if (credentialsValid != m_valid) {
                m_valid = credentialsValid;
                Q_EMIT sigManualProxyConfigChanged(m_proxyType);
                return;
            }
        }
    } else {
        m_networkProxy.setUser(QString());
        m_networkProxy.setPassword(QString());
    }

    if (changed)
        Q_EMIT sigManualProxyConfigChanged(m_proxyType);
}
