// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

// The user's manual proxy settings for one protocol, read from that protocol's
// desktop settings schema and kept as a QNetworkProxy with a validity flag.
#pragma once

#include "gsettings/settings_schema.h"
#include "proxy/proxy_values.h"

#include <QNetworkProxy>
#include <QObject>

class QGSettings;
class QVariant;

class ManualProxyConfig : public QObject
{
    Q_OBJECT

public:
    ManualProxyConfig(ManualProxyType proxyType, QObject *parent);
    ~ManualProxyConfig() override;

    bool isValid() const;
    bool useAuthentication() const;
    QNetworkProxy networkProxy() const;

Q_SIGNALS:
    void sigManualProxyConfigChanged(ManualProxyType proxyType);

private Q_SLOTS:
    void slotGSettingsValueChanged(const QString &key);

private:
    QVariant value(const QString &key) const;
    void reloadCredentials();

    SettingsSchema m_schema;
    QGSettings *m_gsettings = nullptr;
    ManualProxyType m_proxyType;
    bool m_valid = false;
    bool m_useAuthentication = false;
    QNetworkProxy m_networkProxy;
};
