// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

// Mends for the thread in which Qt runs every bus connection: one keeps the
// buses read after messages were freed on the main thread, one hands back
// the memory of messages it dropped itself, one lets it finish its work at
// exit.
#pragma once

#include <QtGlobal>

class QObject;
class QString;

// libdbus asks to stop and resume reading a connection from the thread that
// frees its messages; Qt 5.15 acts on such a request only when it comes from
// the bus thread itself, so a connection whose messages were freed on the
// main thread could stay unread for good. Seen with 5.15.8 (Debian 12) and
// 5.15.15 (Debian 13): faults_deafness fails there without the mend; 6.8.2
// (Debian 13) keeps reading without it. The build option
// ORVANE_BUS_READ_RESYNC=ON or OFF overrides this version test.
#ifndef ORVANE_BUS_READ_RESYNC
#define ORVANE_BUS_READ_RESYNC (QT_VERSION < QT_VERSION_CHECK(6, 0, 0))
#endif
inline constexpr bool kBusReadResync = ORVANE_BUS_READ_RESYNC != 0;

// Re-arms the bus thread's reading whenever the thread of context has handled
// what was queued for it and is about to wait: every message delivered to it
// has been freed by then, whichever slot, early return or call it went to.
void keepBusReading(QObject *context);

// Memory that the bus library took for messages it dropped on its own (a
// signal sent straight to this connection that no subscription takes: on the
// system bus anyone may send those) is freed in the bus thread and never
// passes a slot that trims. The bus thread wakes only for traffic: once it
// has been woken kTrimAfterBusWakes times since the last trim (about 2 KiB
// are read per wake) and has nothing left to do, trim is called on the thread
// of context. Nothing runs while the buses are quiet.
inline constexpr int kTrimAfterBusWakes = 256;
void trimAfterBusTraffic(QObject *context, void (*trim)());
// Tells the watch above that the heap was just trimmed.
void noteHeapTrimmed();

// Makes the bus thread watch each connection's socket as libdbus last asked.
void resumeBusReading();

// Names the connection to the system bus that the mends above and below take
// care of, or none (an empty name) while the system bus is away. Until one is
// named nothing here touches the system bus: connecting to a bus that does
// not answer would block the bus thread and every connection. Main thread
// only.
void noteSystemBusUp(const QString &connectionName);

// Blocks, 500 ms at most, until the error replies to calls sent without
// awaiting the reply have been handled by the bus thread, which drops what it
// has not handled when the process ends. For the program's exit only.
void settleBusReplies();
