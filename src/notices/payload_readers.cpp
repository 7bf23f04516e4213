// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

#include "notices/payload_readers.h"

#include "peerjson/peer_json.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

namespace {

QJsonObject objectOrEmpty(const QString &text)
{
    if (isPeerTextTooLong(text))
        return QJsonObject();
    const QJsonDocument document = peerJson(text.toUtf8());
    return document.isObject() ? document.object() : QJsonObject();
}

} // namespace

std::optional<_System_Notification_Data> parseSystemNotification(const QString &noticeJson)
{
    if (noticeJson.isEmpty() || isPeerTextTooLong(noticeJson))
        return std::nullopt;
    const QJsonDocument document = peerJson(noticeJson.toUtf8());
    if (document.isEmpty() || !document.isObject())
        return std::nullopt;

    const QJsonObject object = document.object();
    _System_Notification_Data data;
    if (object.contains(QLatin1String("opt")))
        data.opt = object.value(QLatin1String("opt")).toInt(0);
    if (object.contains(QLatin1String("appName")))
        data.appName = object.value(QLatin1String("appName")).toString();
    if (object.contains(QLatin1String("packageName")))
        data.packageName = object.value(QLatin1String("packageName")).toString();
    if (object.contains(QLatin1String("logname")))
        data.logname = object.value(QLatin1String("logname")).toString();
    return data;
}

AppBriefInfoResult parseAppBriefInfo(const QString &statusJson)
{
    AppBriefInfoResult result;
    if (isPeerTextTooLong(statusJson)) {
        result.parseFailed = true;
        result.parseError = peerTextTooLongError();
        return result;
    }
    if (statusJson.trimmed().isEmpty())
        return result;
    QString error;
    const QJsonDocument document = peerJson(statusJson.toUtf8(), &error);
    if (!document.isObject()) {
        result.parseFailed = true;
        result.parseError = error;
        return result;
    }

    const QJsonObject object = document.object();
    if (!object.contains(QLatin1String("appBriefInfo")))
        return result;
    const QJsonObject brief = object.value(QLatin1String("appBriefInfo")).toObject();

    const QString name = brief.value(QLatin1String("package_name")).toString();
    if (name.isEmpty())
        return result;
    if (brief.value(QLatin1String("package_mode")).toInt(-1) != 1)
        return result;
    if (brief.value(QLatin1String("pkgInstallMode")).toInt(0) != 1)
        return result;

    result.nameAndMode = qMakePair(name, brief.value(QLatin1String("package_mode")).toInt(0));
    return result;
}

bool isSafePackageName(const QString &packageName)
{
    if (packageName.isEmpty() || packageName.size() > 255)
        return false;
    const auto isAsciiAlnum = [](QChar c) {
        const ushort u = c.unicode();
        return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9');
    };
    if (!isAsciiAlnum(packageName.at(0)))
        return false;
    for (const QChar c : packageName) {
        if (!isAsciiAlnum(c) && c != QLatin1Char('.') && c != QLatin1Char('+') && c != QLatin1Char('-')
            && c != QLatin1Char('_'))
            return false;
    }
    return true;
}

UpgradeAppInfo parseUpgradeAppInfo(const QString &infoJson)
{
    const QJsonObject object = objectOrEmpty(infoJson);
    UpgradeAppInfo info;
    info.packageName = object.value(QLatin1String("package_name")).toString();
    info.name = object.value(QLatin1String("name")).toString();
    info.supportWayland = object.value(QLatin1String("supportWayland")).toInt(0);
    return info;
}
