// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

// The facts of the session as its peers and its environment give them: the
// lock service's answer about the current user, what may pass for a login
// name, and whether the session runs on Wayland. Pure functions of text.
#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <optional>

// The lock service's answer to "CurrentUser".
struct CurrentUserAnswer
{
    bool parsed = false; // a JSON object
    QString parseError;
    bool hasName = false;
    QString name;
    bool hasUid = false;
    std::optional<uint> uid; // empty when "Uid" is not a non-negative integer
};
CurrentUserAnswer parseCurrentUser(const QByteArray &answer);

// A name that could be a login name: 1 to LOGIN_NAME_MAX - 1 bytes of UTF-8
// (LOGIN_NAME_MAX counts the terminating NUL), nothing unsafe for a log line
// (isUnsafeForLog), no other format character, no ":" (the passwd field
// separator) and no "/".
bool isPlausibleLoginName(const QString &name);

// XDG_SESSION_TYPE is "wayland" exactly, or WAYLAND_DISPLAY mentions wayland in any case.
bool isWaylandSession(const QString &sessionType, const QString &waylandDisplay);
