// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

// Where the daemon finds its translations: the app-store client's catalogue
// for the system locale (the daemon ships none of its own).
#pragma once

#include <QLocale>
#include <QString>

inline QString clientCatalogPath()
{
    return QStringLiteral("/usr/share/orvane-home-appstore-client/translations/orvane-home-appstore-client_%1.qm")
        .arg(QLocale::system().name());
}
