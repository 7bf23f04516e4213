// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

// The daemon's presence on the session bus: the object
// /com/orvane/appstore/daemon with its one method Instance, and in the
// standalone program the well-known name com.orvane.appstore.daemon.
#pragma once

#include <QDBusContext>
#include <QObject>
#include <QString>

class DBusInterface : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.orvane.appstore.daemon")

public:
    explicit DBusInterface(const char *name, QObject *parent = nullptr);

    // With a connection name: export the object on that connection only.
    // Without one: claim the well-known name on the default session bus first.
    bool registerDBus();

public Q_SLOTS:
    Q_SCRIPTABLE void Instance();

private:
    bool registerDBusObject(const QString &name);

    QString m_connectionName;
};
