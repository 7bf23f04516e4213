// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

#include "proxy_test_support.h"

#include <QDeadlineTimer>
#include <QGSettings>
#include <QTest>

#include <glib.h>

const char *const kProxyVariables[7] = {"http_proxy", "https_proxy", "ftp_proxy", "SOCKS_SERVER",
                                        "all_proxy",  "no_proxy",    "auto_proxy"};

namespace {
const QByteArray kMainSchema = QByteArrayLiteral("com.orvane.wrap.gnome.system.proxy");

QStringList capturedWarnings;
QtMessageHandler previousHandler = nullptr;

void captureWarning(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtWarningMsg)
        capturedWarnings.append(message);
    previousHandler(type, context, message);
}
} // namespace

WarningCapture::WarningCapture()
{
    capturedWarnings.clear();
    previousHandler = qInstallMessageHandler(captureWarning);
}

WarningCapture::~WarningCapture()
{
    qInstallMessageHandler(previousHandler);
}

QStringList WarningCapture::warnings() const
{
    return capturedWarnings;
}

ProxySettingsStore::ProxySettingsStore(QObject *parent)
    : QObject(parent)
    , m_main(new QGSettings(kMainSchema, QByteArray(), this))
{
    const QMap<ManualProxyType, QByteArray> suffixes{
        {HTTP, ".http"}, {HTTPS, ".https"}, {FTP, ".ftp"}, {SOCKS, ".socks"}};
    for (auto it = suffixes.cbegin(); it != suffixes.cend(); ++it)
        m_protocols.insert(it.key(), new QGSettings(kMainSchema + it.value(), QByteArray(), this));
}

void ProxySettingsStore::setMain(const QString &key, const QVariant &value)
{
    m_main->set(key, value);
}

void ProxySettingsStore::setProtocol(ManualProxyType type, const QString &key, const QVariant &value)
{
    m_protocols.value(type)->set(key, value);
}

void ProxySettingsStore::setManualProxy(ManualProxyType type, const QString &host, int port, const QString &user,
                                        const QString &password)
{
    setProtocol(type, QStringLiteral("host"), host);
    setProtocol(type, QStringLiteral("port"), port);
    setProtocol(type, QStringLiteral("authenticationUser"), user.isNull() ? QString(QLatin1String("")) : user);
    setProtocol(type, QStringLiteral("authenticationPassword"),
                password.isNull() ? QString(QLatin1String("")) : password);
    setProtocol(type, QStringLiteral("useAuthentication"), !user.isNull());
}

void ProxySettingsStore::resetAll()
{
    QList<QGSettings *> all = m_protocols.values();
    all.prepend(m_main);
    for (QGSettings *settings : all) {
        for (const QString &key : settings->keys())
            settings->reset(key);
    }
}

void settleSettings()
{
    const QDeadlineTimer deadline(5000);
    while (g_main_context_pending(nullptr)) {
        QVERIFY2(!deadline.hasExpired(), "the GLib main context never ran empty");
        g_main_context_iteration(nullptr, false);
    }
}

void clearProxyEnvironment()
{
    for (const char *name : kProxyVariables)
        qunsetenv(name);
}

QStringList processProxyVariables()
{
    QStringList variables;
    for (const char *name : kProxyVariables) {
        if (qEnvironmentVariableIsSet(name))
            variables.append(QString::fromLatin1(name) + QLatin1Char('=') + QString::fromUtf8(qgetenv(name)));
    }
    return variables;
}

QStringList snapshotProxyVariables(const QVariantMap &environment)
{
    QStringList names;
    for (const char *name : kProxyVariables)
        names.append(QString::fromLatin1(name));
    QStringList keys = environment.keys();
    keys.sort();
    QStringList sortedNames = names;
    sortedNames.sort();
    [&] { QCOMPARE(keys, sortedNames); }();

    QStringList variables;
    for (const QString &name : names) {
        const QVariant value = environment.value(name);
        [&] { QCOMPARE(value.userType(), int(QMetaType::QString)); }();
        if (!value.toString().isNull())
            variables.append(name + QLatin1Char('=') + value.toString());
    }
    return variables;
}
