// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

// Follows the desktop's system proxy settings and mirrors them into the seven
// proxy environment variables of this process, signalling every change.
#pragma once

#include "gsettings/settings_schema.h"
#include "proxy/manual_proxy_config.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

#include <optional>

class QGSettings;

class SystemProxyMonitor : public QObject
{
    Q_OBJECT

public:
    static SystemProxyMonitor *instance();

    explicit SystemProxyMonitor(QObject *parent);
    ~SystemProxyMonitor() override;

    // The names of the seven proxy variables the monitor writes.
    static QList<QByteArray> environmentVariables();

    // The seven proxy variables as the environment holds them now; an unset
    // one is a null QString.
    QVariantMap getEnvironment() const;
    void resetApplicationManualProxy();

Q_SIGNALS:
    void sigEnvironmentChanged();

private Q_SLOTS:
    void slotGSettingsValueChanged(const QString &key);
    void slotManualProxyConfigChanged(ManualProxyType proxyType);

private:
    QVariant value(const QString &key) const;
    void setNoProxy();
    void setAutoProxy();

    static SystemProxyMonitor *m_instance;

    SettingsSchema m_schema;
    QGSettings *m_gsettings = nullptr;
    bool m_initialized = false;
    QString m_proxyMode;
    QMap<ManualProxyType, ManualProxyConfig *> m_manualProxyConfigs;
    QStringList m_refusedIgnoreHosts;
    std::optional<QString> m_refusedAutoconfigUrl; // warned about already
    QMap<ManualProxyType, QString> m_refusedManualProxies; // warned about already, per protocol
};
