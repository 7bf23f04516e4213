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
        qCCritical(logMain).noquote() << "Register D-Bus service failed:" << bus.lastError().message();
        // A name that is merely taken is no bus error, so the line above
        // gives no cause: say who has the name, on a line of its own.
        if (bus.isConnected() && bus.interface()) {
            const QString owner = bus.interface()->serviceOwner(kServiceName).value();
            if (!owner.isEmpty())
                qCWarning(logMain) << "Session bus name" << kServiceName << "is owned by" << owner;
        }
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
