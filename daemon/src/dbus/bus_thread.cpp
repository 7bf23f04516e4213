#include "dbus/bus_thread.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QSocketNotifier>

namespace {

// The object that stands for a connection in the bus thread: the parent of
// the bus's own interface object and of the connection's socket notifiers.
QObject *connectionObject(const QDBusConnection &bus)
{
    QDBusConnectionInterface *const busInterface = bus.interface();
    return busInterface ? busInterface->parent() : nullptr;
}

} // namespace

// libdbus stops reading a connection while the messages it has handed out
// hold more than its limit (63 MiB by default), and asks for reading again
// once enough of them are freed. A message of a signal is freed where its
// slot ran, on the main thread, and Qt switches a socket notifier only from
// its own thread: from any other it records the new state but leaves the
// event loop as it was ("Socket notifiers cannot be enabled or disabled from
// another thread"). After a large burst the connection then stayed unread
// for good, its notifier marked on but never watched. Switching each
// notifier off and back to its recorded state, from its own thread, makes
// the event loop watch what libdbus last asked for.
void resumeBusReading()
{
    for (const QDBusConnection &bus : {QDBusConnection::systemBus(), QDBusConnection::sessionBus()}) {
        QObject *const connection = connectionObject(bus);
        if (!connection)
            continue;
        QMetaObject::invokeMethod(
            connection,
            [connection] {
                const auto notifiers =
                    connection->findChildren<QSocketNotifier *>(QString(), Qt::FindDirectChildrenOnly);
                for (QSocketNotifier *notifier : notifiers) {
                    const bool wanted = notifier->isEnabled();
                    notifier->setEnabled(!wanted);
                    notifier->setEnabled(wanted);
                }
            },
            Qt::QueuedConnection);
    }
}
