// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

// Shared by the proxy tests: writes the five proxy schemas the way the
// desktop's settings panel would, and shows the process's proxy environment
// in a form that tells an unset variable from an empty one.
#pragma once

#include "proxy/manual_proxy_config.h"

#include <QMap>
#include <QObject>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

// How long a test waits for something it expects to happen: an assert of
// behaviour, not of speed, so generous enough for a sanitized build on a busy
// 2-core machine.
constexpr int kWaitMs = 30000;

class QGSettings;

class ProxySettingsStore : public QObject
{
public:
    explicit ProxySettingsStore(QObject *parent = nullptr);

    void setMain(const QString &key, const QVariant &value);
    void setProtocol(ManualProxyType type, const QString &key, const QVariant &value);
    // Host, port and, when user is not null, authentication with user and password.
    void setManualProxy(ManualProxyType type, const QString &host, int port, const QString &user = QString(),
                        const QString &password = QString());
    // Every key of the five schemas back to its default.
    void resetAll();

private:
    QGSettings *m_main;
    QMap<ManualProxyType, QGSettings *> m_protocols;
};

// Runs the GLib main context until nothing is pending. Changes written in this
// process reach other settings objects as idle callbacks queued by the write,
// so afterwards every consequence of the writes so far has happened.
void settleSettings();

extern const char *const kProxyVariables[7];

void clearProxyEnvironment();

// "name=value" for each proxy variable set in the process environment, in a
// fixed order; unset variables are left out, empty ones show as "name=".
QStringList processProxyVariables();

// The same for a snapshot; fails the test unless it holds exactly the seven
// names, each as a QString, unset ones null.
QStringList snapshotProxyVariables(const QVariantMap &environment);

// Records the warnings logged while it exists (their text only); every
// message still reaches the test's output.
class WarningCapture
{
public:
    WarningCapture();
    ~WarningCapture();
    WarningCapture(const WarningCapture &) = delete;
    WarningCapture &operator=(const WarningCapture &) = delete;

    QStringList warnings() const;
};
