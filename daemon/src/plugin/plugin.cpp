// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

// Entry functions of the daemon as a plugin of a session service manager: the
// host owns the application object and the loop, the plugin only the daemon's
// own objects.
#include "dbus/appstore_daemon_interface.h"
#include "dbus/dbus_interface.h"
#include "gsettings/gsettings_watcher.h"
#include "logging/log_category.h"
#include "proxy/system_proxy_monitor.h"
#include "util/translation.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QGSettings>
#include <QPointer>
#include <QTranslator>
#include <QVector>

#include <utility>

namespace {

QTranslator *g_translator = nullptr;
DBusInterface *g_dbusInterface = nullptr;
AppstoreDaemonInterface *g_appstoreDaemon = nullptr;
// Built by the service on first use; left behind, their settings objects would
// go on rewriting the host's environment after the stop.
SystemProxyMonitor *g_proxyMonitor = nullptr;
GSettingsWatcher *g_gsettingsWatcher = nullptr;
// Set only when NSMRegister opened that connection: one the host had open
// before stays the host's.
QString g_openedConnection;
// Released, but the host's loop has not yet come round to deleting them.
QVector<QPointer<QObject>> g_released;

// The host's own proxy variables as they stood at the start: the monitor
// writes the user's proxy settings into the environment of the whole process,
// and the stop gives the host its own values back.
struct HostVariable
{
    QByteArray name;
    bool set = false;
    QByteArray value;
};
QVector<HostVariable> g_hostProxyEnvironment;

void saveHostProxyEnvironment()
{
    g_hostProxyEnvironment.clear();
    for (const QByteArray &name : SystemProxyMonitor::environmentVariables())
        g_hostProxyEnvironment.append({name, qEnvironmentVariableIsSet(name.constData()), qgetenv(name.constData())});
}

void restoreHostProxyEnvironment()
{
    for (const HostVariable &variable : std::as_const(g_hostProxyEnvironment)) {
        if (variable.set)
            qputenv(variable.name.constData(), variable.value);
        else
            qunsetenv(variable.name.constData());
    }
    g_hostProxyEnvironment.clear();
}

void loadTranslation()
{
    g_translator = new QTranslator;
    static_cast<void>(g_translator->load(clientCatalogPath(), QString(), QString(), QString()));
    QCoreApplication::installTranslator(g_translator);
}

template<typename T>
void release(T *&object)
{
    if (!object)
        return;
    object->deleteLater();
    g_released.append(object);
    object = nullptr;
}

// GLib calls its settings objects until the loop deletes them; from the stop
// on, those calls must reach nothing of the daemon.
void silence(QObject *object)
{
    if (!object)
        return;
    const QList<QGSettings *> settings = object->findChildren<QGSettings *>();
    for (QGSettings *each : settings)
        QObject::disconnect(each, &QGSettings::changed, nullptr, nullptr);
}

// Closed once the object exported on it is gone, so that the bus library
// never outlives a registration of it.
void releaseDBusInterface()
{
    if (g_dbusInterface && !g_openedConnection.isEmpty()) {
        QObject::connect(g_dbusInterface, &QObject::destroyed, QCoreApplication::instance(),
                         [name = g_openedConnection] { QDBusConnection::disconnectFromBus(name); });
    }
    g_openedConnection.clear();
    release(g_dbusInterface);
}

// A start right after a stop, within one pass of the host's loop, would get
// the dying service back from instance() and find the path still taken.
void finishReleased()
{
    for (const QPointer<QObject> &object : std::as_const(g_released))
        delete object.data();
    g_released.clear();
}

} // namespace

extern "C" {

__attribute__((visibility("default"))) int NSMRegister(const char *name, void *data)
{
    Q_UNUSED(data)
    if (g_dbusInterface) {
        // A second start without a stop would export the object twice.
        qCWarning(logMain) << "Already registered, ignoring NSMRegister";
        return 0;
    }

    finishReleased();
    // Trimmed as the D-Bus object trims it. An unknown name gives a
    // connection object without a name.
    const QString connectionName = QString::fromUtf8(name).trimmed();
    if (!connectionName.isEmpty() && QDBusConnection(connectionName).name().isEmpty())
        g_openedConnection = connectionName;

    g_dbusInterface = new DBusInterface(name);
    if (!g_dbusInterface->registerDBus()) {
        qCWarning(logMain) << "Register D-Bus failed";
        releaseDBusInterface();
        return 0;
    }

    loadTranslation();
    // Before the service builds the monitor, which fills the variables.
    saveHostProxyEnvironment();
    g_appstoreDaemon = AppstoreDaemonInterface::instance();
    // Already built by the service: these calls only take hold of them.
    g_proxyMonitor = SystemProxyMonitor::instance();
    g_gsettingsWatcher = GSettingsWatcher::instance();
    return 0;
}

__attribute__((visibility("default"))) int NSMUnRegister()
{
    // The service is only scheduled for deletion: what it holds for the
    // notification server's answer goes out now, while it is whole.
    if (g_appstoreDaemon)
        g_appstoreDaemon->sendHeldNotices();
    releaseDBusInterface();
    release(g_appstoreDaemon);
    release(g_translator);
    silence(g_proxyMonitor);
    silence(g_gsettingsWatcher);
    // Once no settings object of the monitor can write them any more.
    restoreHostProxyEnvironment();
    release(g_proxyMonitor);
    release(g_gsettingsWatcher);
    return 0;
}

} // extern "C"
