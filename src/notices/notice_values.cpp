// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

#include "notices/notice_values.h"

#include "notices/notice_texts.h"

#include <QCoreApplication>
#include <QObject>

std::optional<NotifyValues> pkgOpNotifyValues(int status, const QString &appName, const QString &packageName)
{
    if (status == OptNone)
        return std::nullopt;

    const PkgOpNoticeText text = pkgOpNoticeText(status);
    NotifyValues values;
    values.appName = QLatin1String(kNoticeAppName);
    values.appIcon = text.icon;
    if (text.summary) {
        values.summary = QCoreApplication::translate("QObject", text.summary);
        if (text.fillsPlaceholder) {
            const bool namedByPackage = status == OptRemoveSucceeded && appName.isEmpty();
            values.summary = values.summary.arg(namedByPackage ? packageName : appName);
        }
    }
    values.timeout = 3000;
    return values;
}

NotifyValues viewNotifyValues(const QString &summary, const QString &body, const QString &openUrl,
                              const QString &fromId)
{
    NotifyValues values;
    values.appName = QLatin1String(kNoticeAppName);
    values.appIcon = QStringLiteral("orvane-app-store");
    values.summary = summary;
    values.body = body;
    values.actions = QStringList{QStringLiteral("show_detail"), QObject::tr("View")};
    const QString command = QStringLiteral("orvane-home-appstore-client,%1,--from,%2").arg(openUrl).arg(fromId);
    values.hints = QVariantMap{{QStringLiteral("x-orvane-action-show_detail"), command}};
    values.timeout = -1;
    return values;
}

std::optional<_System_Notification_Data> systemNoticeFor(const QString &noticeJson, const QString &logName)
{
    std::optional<_System_Notification_Data> notice = parseSystemNotification(noticeJson);
    if (!notice)
        return std::nullopt;
    if (notice->opt == OptNone && notice->appName.isEmpty() && notice->packageName.isEmpty()
        && notice->logname.isEmpty())
        return std::nullopt;
    // The system daemon broadcasts to every session; show only our user's.
    if (notice->logname != logName)
        return std::nullopt;
    return notice;
}

QStringList upgradeNoticeNames(const QStringList &infos, bool isWayland, const QStringList &ignoredPackages)
{
    QStringList names;
    if (infos.size() > kMaxUpgradeListEntries)
        return names;
    for (const QString &info : infos) {
        const UpgradeAppInfo app = parseUpgradeAppInfo(info);
        if (isWayland && app.supportWayland != 1)
            continue;
        if (ignoredPackages.contains(app.packageName))
            continue;
        names.append(app.name);
    }
    return names;
}
