// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

// Proxy to the system app-store daemon on the system bus.
#pragma once

#include <QDBusAbstractInterface>
#include <QDBusConnection>

// A plain proxy that never introspects its peer. Qt's dynamic interface asks
// for the introspection data when it is built, blocking for up to the bus's
// 25 s, so a system daemon that owns its name but answers nothing would freeze
// the session daemon's start. Nothing here reads that description: methods are
// called by name and the property is asked for through Properties.Get.
class SystemDaemonInterface final : public QDBusAbstractInterface
{
public:
    SystemDaemonInterface(const QString &service, const QString &path, const char *interface,
                          const QDBusConnection &connection, QObject *parent)
        : QDBusAbstractInterface(service, path, interface, connection, parent)
    {
    }
};
