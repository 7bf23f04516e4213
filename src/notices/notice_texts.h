// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

// The texts of the notices: summaries and icons of the package-operation
// notices, the body of the update notice, and the forms a name takes in a
// body for servers that do or may read it as markup.
#pragma once

#include <QString>
#include <QStringList>

// Summary source text (untranslated) and icon of a package-operation notice.
struct PkgOpNoticeText
{
    const char *summary = nullptr; // null: empty summary
    bool fillsPlaceholder = false;
    QString icon;
};
PkgOpNoticeText pkgOpNoticeText(int status);

// Text as a notification body shows it when the server reads bodies as
// markup ("body-markup"): "&", "<" and ">" written as entities.
QString escapeBodyMarkup(const QString &text);

// text with "<", ">" and "&" replaced by their fullwidth look-alikes, for a
// notification server that did not say whether it reads markup: the text
// then reads the same to a server that does and to one that does not.
QString withoutMarkupCharacters(const QString &text);

// How the notification server reads a notice's body.
enum class BodyMarkup { NotRead, Read, Unknown };

// App names as a body shows them: escaped for a server that reads markup,
// with the look-alikes above for one that did not say, as they are otherwise.
QStringList namesForBody(const QStringList &names, BodyMarkup markup);

// Body of the daily update notice for the names of the kept apps (translated
// count, then at most three names).
QString upgradeNoticeBody(const QStringList &names);
