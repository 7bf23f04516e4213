// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

#include "dbus/bus_thread.h"

#include <QAbstractEventDispatcher>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QSemaphore>
#include <QSocketNotifier>

#include <atomic>
#include <memory>
#include <vector>

namespace {

constexpr int kSettleTimeoutMs = 500;

// Read and written on the main thread only.
QString g_systemBusName;
// Written in the bus thread, reset on the main thread by each trim.
std::atomic<int> g_busWakes{0};
std::atomic<bool> g_trimAsked{false};
// One resync waiting in the bus thread is enough for any number of idle spells.
std::atomic<bool> g_resyncQueued{false};

std::vector<QDBusConnection> busesInUse()
{
    std::vector<QDBusConnection> buses{QDBusConnection::sessionBus()};
    if (!g_systemBusName.isEmpty())
        buses.push_back(QDBusConnection(g_systemBusName));
    return buses;
}

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
    if (!kBusReadResync || g_resyncQueued.exchange(true))
        return;
    // Both connections live in the one bus thread: one queued call does both.
    std::vector<QObject *> connections;
    for (const QDBusConnection &bus : busesInUse()) {
        if (QObject *const connection = connectionObject(bus))
            connections.push_back(connection);
    }
    if (connections.empty()) {
        g_resyncQueued = false;
        return;
    }
    QMetaObject::invokeMethod(
        connections.front(),
        [connections] {
            g_resyncQueued = false;
            for (QObject *connection : connections) {
                const auto notifiers = connection->findChildren<QSocketNotifier *>(QString(),
                                                                                   Qt::FindDirectChildrenOnly);
                for (QSocketNotifier *notifier : notifiers) {
                    const bool wanted = notifier->isEnabled();
                    notifier->setEnabled(!wanted);
                    notifier->setEnabled(wanted);
                }
            }
        },
        Qt::QueuedConnection);
}

// Tied to the loop going idle rather than to slot bodies: a slot that returns
// before its work, a method call, a reply or a main thread held up elsewhere
// all free their messages before the loop waits again.
void keepBusReading(QObject *context)
{
    if (!kBusReadResync || !context)
        return;
    QAbstractEventDispatcher *const dispatcher = QAbstractEventDispatcher::instance(context->thread());
    if (!dispatcher)
        return;
    QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, context, [] { resumeBusReading(); });
}

void trimAfterBusTraffic(QObject *context, void (*trim)())
{
    QObject *const connection = connectionObject(QDBusConnection::sessionBus());
    QAbstractEventDispatcher *const dispatcher = connection ? QAbstractEventDispatcher::instance(connection->thread())
                                                            : nullptr;
    if (!dispatcher || !context)
        return;
    // Run in the bus thread; the context only ends the watch with itself.
    QObject::connect(
        dispatcher, &QAbstractEventDispatcher::awake, context, [] { ++g_busWakes; }, Qt::DirectConnection);
    QObject::connect(
        dispatcher, &QAbstractEventDispatcher::aboutToBlock, context,
        [context, trim] {
            if (g_busWakes.load() >= kTrimAfterBusWakes && !g_trimAsked.exchange(true))
                QMetaObject::invokeMethod(context, trim, Qt::QueuedConnection);
        },
        Qt::DirectConnection);
}

void noteHeapTrimmed()
{
    g_busWakes = 0;
    g_trimAsked = false;
}

void noteSystemBusUp(const QString &connectionName)
{
    g_systemBusName = connectionName;
}

// Calls sent without awaiting their reply (every notice, every report to the
// system daemon) are still tracked by the bus thread, and an error reply to
// one (no notification server, no system daemon) becomes an event that this
// thread handles a moment later. What is left unhandled when the process
// ends is dropped without being freed. A round trip on each bus brings in the
// replies the bus itself gives to what was sent before; a no-op queued behind
// them in the bus thread returns once they are handled.
void settleBusReplies()
{
    const QDeadlineTimer budget(kSettleTimeoutMs);
    QObject *connection = nullptr;
    for (const QDBusConnection &bus : busesInUse()) {
        if (!bus.isConnected())
            continue;
        const QDBusMessage ping = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
            QStringLiteral("org.freedesktop.DBus.Peer"), QStringLiteral("Ping"));
        bus.call(ping, QDBus::Block, qMax(1, int(budget.remainingTime())));
        if (!connection)
            connection = connectionObject(bus);
    }
    if (!connection)
        return;
    // Shared: a no-op that runs after the wait gave up must find it alive.
    const auto handled = std::make_shared<QSemaphore>();
    QMetaObject::invokeMethod(
        connection, [handled] { handled->release(); }, Qt::QueuedConnection);
    handled->tryAcquire(1, qMax(0, int(budget.remainingTime())));
}
