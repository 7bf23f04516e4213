// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

#include "notices/notice_texts.h"

#include "notices/payload_readers.h"

#include <QObject>

PkgOpNoticeText pkgOpNoticeText(int status)
{
    switch (status) {
    case OptInstallSucceeded:
        return {QT_TRANSLATE_NOOP("QObject", "\"%1\" installed successfully"), true,
                QStringLiteral("package-install-succeed")};
    case OptInstallFailed:
        return {QT_TRANSLATE_NOOP("QObject", "Failed to install \"%1\""), true,
                QStringLiteral("package-install-failed")};
    case OptUpdateSucceeded:
        return {QT_TRANSLATE_NOOP("QObject", "\"%1\" updated successfully"), true,
                QStringLiteral("package-updated-succeed")};
    case OptUpdateFailed:
        return {QT_TRANSLATE_NOOP("QObject", "Failed to update \"%1\""), true,
                QStringLiteral("package-updated-failed")};
    case OptRemoveSucceeded:
        return {QT_TRANSLATE_NOOP("QObject", "%1 removed successfully"), true,
                QStringLiteral("application-default-icon")};
    case OptRemoveFailed:
        return {QT_TRANSLATE_NOOP("QObject", "Failed to remove the app"), false,
                QStringLiteral("application-default-icon")};
    case OptNewVersion:
        return {QT_TRANSLATE_NOOP("QObject", "\"%1\" new version available"), true, QString()};
    default:
        return {};
    }
}

QString escapeBodyMarkup(const QString &text)
{
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar c : text) {
        if (c == QLatin1Char('&'))
            escaped += QLatin1String("&amp;");
        else if (c == QLatin1Char('<'))
            escaped += QLatin1String("&lt;");
        else if (c == QLatin1Char('>'))
            escaped += QLatin1String("&gt;");
        else
            escaped += c;
    }
    return escaped;
}

QString withoutMarkupCharacters(const QString &text)
{
    QString plain = text;
    plain.replace(QLatin1Char('<'), QChar(0xFF1C));
    plain.replace(QLatin1Char('>'), QChar(0xFF1E));
    plain.replace(QLatin1Char('&'), QChar(0xFF06));
    return plain;
}

QStringList namesForBody(const QStringList &names, BodyMarkup markup)
{
    if (markup == BodyMarkup::NotRead)
        return names;
    QStringList shown;
    shown.reserve(names.size());
    for (const QString &name : names)
        shown.append(markup == BodyMarkup::Read ? escapeBodyMarkup(name) : withoutMarkupCharacters(name));
    return shown;
}

QString upgradeNoticeBody(const QStringList &names)
{
    const int count = names.size();
    QString body = count == 1 ? QObject::tr("1 app") : QObject::tr("%n apps", "", count);
    body += QLatin1String(": ");
    const int shown = qMin(count, 3);
    for (int i = 0; i < shown; ++i) {
        body += names.at(i);
        if (i != 2 && i < count - 1)
            body += QLatin1String(", ");
    }
    if (count > 3)
        body += QLatin1String("...");
    return body;
}
