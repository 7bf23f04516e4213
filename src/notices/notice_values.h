// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

// What the session service shows for the system daemon's signals, decided
// without a bus: from the payload text to the values of the notification.
#pragma once

#include "notices/payload_readers.h"

#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <optional>

// The application name of every notice, also the app store's own id in its
// install-progress messages.
inline constexpr char kNoticeAppName[] = "orvane-app-store";

// The eight values of one desktop notification, in the order of Notify.
struct NotifyValues
{
    QString appName;
    uint replaceId = 0;
    QString appIcon;
    QString summary;
    QString body;
    QStringList actions;
    QVariantMap hints;
    int timeout = -1;
};

// The notice of one package operation's outcome (summary translated); nothing
// for OptNone.
std::optional<NotifyValues> pkgOpNotifyValues(int status, const QString &appName, const QString &packageName);

// A notice with a "View" action (label translated) whose command opens the
// app-store client at openUrl, telling it the launch source fromId.
NotifyValues viewNotifyValues(const QString &summary, const QString &body, const QString &openUrl,
                              const QString &fromId);

// A "sigSystemNotificationSent" payload that is to be shown to the session
// user logName; nothing for any other.
std::optional<_System_Notification_Data> systemNoticeFor(const QString &noticeJson, const QString &logName);

// The most entries an upgrade list may have: a store names the apps one
// machine has installed. A longer list is dropped whole, read as no list.
inline constexpr qsizetype kMaxUpgradeListEntries = 10000;

// The names an upgrade list announces, in its order and as the peer wrote
// them (namesForBody makes them fit the server): in a Wayland session only
// apps that support it, never an ignored package; none for a list longer
// than kMaxUpgradeListEntries. An entry longer than kMaxPeerTextBytes reads
// as one that does not parse.
QStringList upgradeNoticeNames(const QStringList &infos, bool isWayland, const QStringList &ignoredPackages);
