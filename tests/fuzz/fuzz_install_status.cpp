// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

// An install-progress message (the package name and the status text carrying
// "appBriefInfo"), up to whether and which bottle script would be started,
// and the lines logged on the way.
#include "fuzz_check.h"
#include "fuzz_input.h"
#include "logrules/log_text.h"
#include "notices/payload_readers.h"

#include <QDebug>
#include <QDir>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // First line: the package name; the rest: the status text.
    const QList<QByteArray> fields = fuzzFields(fuzzBytes(data, size), 2);
    const QString packageName = QString::fromUtf8(fields.at(0));
    const QString statusMsg = QString::fromUtf8(fields.at(1));

    const AppBriefInfoResult brief = parseAppBriefInfo(statusMsg);
    QString log;
    if (brief.parseFailed)
        QDebug(&log) << "parse AppBriefInfo failed:" << brief.parseError << cutForLog(statusMsg);
    QDebug(&log) << QStringLiteral("Package %1 install succeeded, package_mode: %2")
                        .arg(packageName, QString::number(brief.nameAndMode.second));

    if (brief.nameAndMode.first.isEmpty() || brief.nameAndMode.second != 1)
        return 0;
    FUZZ_CHECK(brief.nameAndMode.second == 1);

    if (!isSafePackageName(packageName)) {
        QDebug(&log) << "Package name refused, skip creating bottle:" << cutForLog(packageName);
        return 0;
    }
    const QString script = QStringLiteral("/opt/apps/%1/files/run.sh").arg(packageName);
    // A name let through must neither leave /opt/apps nor carry shell syntax.
    FUZZ_CHECK(QDir::cleanPath(script) == script);
    FUZZ_CHECK(script.count(QLatin1Char('/')) == 5);
    for (const QChar c : packageName)
        FUZZ_CHECK(c.isLetterOrNumber() || QStringLiteral(".+-_").contains(c));
    const QStringList arguments{QStringLiteral("-c"), QStringLiteral("%1 -c").arg(script)};
    volatile int length = arguments.at(1).size() + log.size();
    (void)length;
    return 0;
}
