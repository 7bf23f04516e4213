// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

// Readers of the system daemon's payloads: each takes the peer's text and
// returns the fields the session service uses; none touches a bus, a setting
// or the log.
#pragma once

#include <QPair>
#include <QString>

#include <optional>

// Outcome of one package operation, as the system daemon sends it in "opt".
enum E_OptStatus : int {
    OptNone = 0,
    OptInstallSucceeded = 1,
    OptInstallFailed = 2,
    OptUpdateSucceeded = 3,
    OptUpdateFailed = 4,
    OptRemoveSucceeded = 5,
    OptRemoveFailed = 6,
    OptNewVersion = 7,
};

// One payload of the system daemon's "sigSystemNotificationSent".
struct _System_Notification_Data
{
    int opt = 0;
    QString appName;
    QString packageName;
    QString logname;
};

// Empty text, text that does not parse, text past kMaxPeerTextBytes
// (peerjson/peer_json.h: every reader here refuses such text as one that does
// not parse) and JSON that is not an object give nothing; missing keys keep
// their initial values.
std::optional<_System_Notification_Data> parseSystemNotification(const QString &noticeJson);

// The brief info that install-progress messages carry under "appBriefInfo".
struct AppBriefInfoResult
{
    QPair<QString, int> nameAndMode{QString(), -1};
    bool parseFailed = false; // not JSON, or JSON but not an object
    QString parseError;
};
AppBriefInfoResult parseAppBriefInfo(const QString &statusJson);

// Package names that may safely form a path under /opt/apps and a shell word:
// a letter or digit first, then letters, digits and ".+-_", 255 at most.
bool isSafePackageName(const QString &packageName);

// One element of "sigLocalAppsUpgradeNotify"; text that is not a JSON object
// reads as an object without keys.
struct UpgradeAppInfo
{
    QString packageName;
    QString name;
    int supportWayland = 0;
};
UpgradeAppInfo parseUpgradeAppInfo(const QString &infoJson);
