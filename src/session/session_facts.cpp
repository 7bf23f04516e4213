// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

#include "session/session_facts.h"

#include "logrules/log_text.h"
#include "peerjson/peer_json.h"

#include <QChar>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <climits>
#include <cmath>

CurrentUserAnswer parseCurrentUser(const QByteArray &answer)
{
    CurrentUserAnswer result;
    if (answer.size() > kMaxPeerTextBytes) {
        result.parseError = peerTextTooLongError();
        return result;
    }
    QString error;
    const QJsonDocument document = peerJson(answer, &error);
    if (!document.isObject()) {
        result.parseError = error;
        return result;
    }
    result.parsed = true;

    const QJsonObject object = document.object();
    if (object.contains(QLatin1String("Name"))) {
        result.hasName = true;
        result.name = object.value(QLatin1String("Name")).toString().trimmed();
    }
    if (object.contains(QLatin1String("Uid"))) {
        result.hasUid = true;
        // Anything but a whole number in uid_t's range names nobody: a
        // malformed answer must never fall back to uid 0.
        const QJsonValue uid = object.value(QLatin1String("Uid"));
        if (uid.isDouble()) {
            const double value = uid.toDouble();
            if (std::isfinite(value) && value >= 0 && value < 4294967295.0 && std::floor(value) == value)
                result.uid = static_cast<uint>(value);
        }
    }
    return result;
}

bool isPlausibleLoginName(const QString &name)
{
    if (name.isEmpty() || name.toUtf8().size() >= LOGIN_NAME_MAX)
        return false;
    for (const QChar c : name) {
        // Format characters (a bidirectional override, an invisible space)
        // would make the name read differently in a log line than it is.
        if (isUnsafeForLog(c.unicode()) || c.category() == QChar::Other_Format || c == QLatin1Char(':')
            || c == QLatin1Char('/'))
            return false;
    }
    return true;
}

bool isWaylandSession(const QString &sessionType, const QString &waylandDisplay)
{
    return sessionType == QLatin1String("wayland")
        || waylandDisplay.contains(QLatin1String("wayland"), Qt::CaseInsensitive);
}
