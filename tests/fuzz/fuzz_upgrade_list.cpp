// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

// The brief infos of "sigLocalAppsUpgradeNotify", up to the names announced
// and the summary and body of the update notice.
#include "fuzz_check.h"
#include "fuzz_cost.h"
#include "fuzz_input.h"
#include "notices/notice_texts.h"
#include "notices/notice_values.h"

#include <QJsonDocument>
#include <QObject>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // First line: flags ("W" a Wayland session, "M" a server that reads
    // bodies as markup, "U" one that did not say, "-" none), a blank, then the ignored packages
    // separated by ","; then one brief info per line.
    const QByteArray input = fuzzBytes(data, size);
    const QList<QByteArray> fields = fuzzFields(input, 2);
    const QByteArray header = fields.at(0);
    const QByteArray flags = header.left(header.indexOf(' '));
    const bool isWayland = flags.contains('W');
    const BodyMarkup markup = flags.contains('M') ? BodyMarkup::Read
        : flags.contains('U')                     ? BodyMarkup::Unknown
                                                  : BodyMarkup::NotRead;
    const QStringList ignored = QString::fromUtf8(header.mid(flags.size() + 1)).split(QLatin1Char(','));
    QStringList infos;
    for (const QByteArray &line : fields.at(1).split('\n'))
        infos.append(QString::fromUtf8(line));

    // Qt's own parse of each entry first: what it sets up once is not counted
    // against the reader.
    const size_t qt = fuzzPeakOfQt([&] {
        for (const QString &info : std::as_const(infos))
            QJsonDocument::fromJson(info.toUtf8());
    });
    QStringList kept;
    const size_t own = fuzzPeakOf([&] { kept = upgradeNoticeNames(infos, isWayland, ignored); });
    FUZZ_CHECK(fuzzWithinShare(own, qt, size));
    const QStringList names = namesForBody(kept, markup);
    if (names.isEmpty())
        return 0;

    const QString summary = QObject::tr("App Updates are available");
    const QString body = upgradeNoticeBody(names);
    // Names from the peer cannot open markup of their own.
    if (markup != BodyMarkup::NotRead)
        FUZZ_CHECK(!body.contains(QLatin1Char('<')) && !body.contains(QLatin1Char('>')));
    // The mark of omitted names stands only after the third of four or more.
    const bool marked = body.endsWith(QLatin1String("..."));
    FUZZ_CHECK(names.size() > 3 ? marked : marked == names.constLast().endsWith(QLatin1String("...")));
    volatile int length = summary.size() + body.size();
    (void)length;
    return 0;
}
