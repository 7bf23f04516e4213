// Entry functions of the daemon as a plugin of a session service manager: the
// host owns the application object and the loop, the plugin only the daemon's
// own objects.
#include "dbus/appstore_daemon_interface.h"
#include "dbus/dbus_interface.h"
#include "util/log_category.h"
#include "util/translation.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTranslator>
#include <QVector>

namespace {

QTranslator *g_translator = nullptr;
DBusInterface *g_dbusInterface = nullptr;
AppstoreDaemonInterface *g_appstoreDaemon = nullptr;
// Released, but the host's loop has not yet come round to deleting them.
QVector<QPointer<QObject>> g_released;

void loadTranslation()
{
    g_translator = new QTranslator;
    g_translator->load(clientCatalogPath(), QString(), QString(), QString());
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

// A start right after a stop, within one pass of the host's loop, would get
// the dying service back from instance() and find the path still taken.
void finishReleased()
{
    for (const QPointer<QObject> &object : qAsConst(g_released))
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
    g_dbusInterface = new DBusInterface(name);
    if (!g_dbusInterface->registerDBus()) {
        qCWarning(logMain) << "Register D-Bus failed";
        release(g_dbusInterface);
        release(g_translator);
        return 0;
    }

    loadTranslation();
    g_appstoreDaemon = AppstoreDaemonInterface::instance();
    return 0;
}

__attribute__((visibility("default"))) int NSMUnRegister()
{
    release(g_dbusInterface);
    release(g_appstoreDaemon);
    release(g_translator);
    return 0;
}

} // extern "C"
