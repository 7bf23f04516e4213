// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

#include "nuvixcore/nsysinfo.h"
#include "nsysinfo_p.h"

#include <QByteArray>
#include <QFile>
#include <QString>

namespace Nuvix {
namespace Core {

int NSysInfo::veskEditionType()
{
    QString path = qEnvironmentVariable("NUVIX_OS_RELEASE");
    if (path.isEmpty())
        path = QStringLiteral("/etc/os-release");

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return 0;

    // os-release is a short file; a cap keeps a hostile one from costing much.
    return editionTypeFromOsRelease(file.read(64 * 1024));
}

int editionTypeFromOsRelease(const QByteArray &osRelease)
{
    static const QByteArray field("NUVIX_EDITION_TYPE=");
    const QList<QByteArray> lines = osRelease.split('\n');
    for (const QByteArray &rawLine : lines) {
        const QByteArray line = rawLine.trimmed();
        if (!line.startsWith(field))
            continue;
        QByteArray value = line.mid(field.size()).trimmed();
        // os-release allows shell quoting of values.
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
            value = value.mid(1, value.size() - 2);
        bool ok = false;
        const int edition = value.toInt(&ok);
        return ok ? edition : 0;
    }
    return 0;
}

} // namespace Core
} // namespace Nuvix
