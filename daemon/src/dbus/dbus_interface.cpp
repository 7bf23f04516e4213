// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

#include "dbus/dbus_interface.h"

#include "logging/log_category.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>

namespace {
const QString kServiceName = QStringLiteral("com.orvane.appstore.daemon");
const QString kObjectPath = QStringLiteral("/com/orvane/appstore/daemon");
} // namespace

DBusInterface::DBusInterface(const char *name, QObject *parent)
    : QObject(parent)
    , m_connectionName(QString::fromUtf8(name).trimmed())
{
}

bool DBusInterface::registerDBus()
{
    if (!m_connectionName.isEmpty())
        return registerDBusObject(m_connectionName);

    QDBusConnection bus = QDBusConnection::sessionBus();
    // The object goes up before the name: a call that starts the daemon by bus
    // activation is delivered the moment the name is owned, and must find it.
    const bool exported = bus.isConnected() && registerDBusObject(bus.name());
    if (bus.isConnected() && !exported)
        return false;
    if (!bus.registerService(kServiceName)) {
        // A name that is merely taken is not a bus error; say who has it then.
        QString reason = bus.lastError().message();
        if (reason.isEmpty() && bus.isConnected() && bus.interface())
            reason = QStringLiteral("name already owned by %1")
                         .arg(bus.interface()->serviceOwner(kServiceName).value());
        qCCritical(logMain).noquote() << "Register D-Bus service failed:" << reason;
        if (exported)
            bus.unregisterObject(kObjectPath);
        return false;
    }
    m_connectionName = bus.name();
    return true;
}

bool DBusInterface::registerDBusObject(const QString &name)
{
    if (name.isEmpty())
        return false;

    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, name);
    const bool registered = bus.registerObject(kObjectPath, this, QDBusConnection::ExportScriptableContents);
    if (!registered)
        qCCritical(logMain).noquote() << "Register D-Bus object failed:" << bus.lastError().message();
    return registered;
}

void DBusInterface::Instance()
{
    qCDebug(logMain) << "Orvane Appstore Session Daemon started";
}
