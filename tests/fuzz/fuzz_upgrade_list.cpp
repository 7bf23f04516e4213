// The brief infos of "sigLocalAppsUpgradeNotify", up to the names announced
// and the summary and body of the update notice.
#include "dbus/notice_values.h"
#include "fuzz_check.h"
#include "fuzz_input.h"

#include <QObject>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // First line: "W" for a Wayland session or anything else for none, a
    // blank, then the ignored packages separated by ","; then one brief info
    // per line.
    const QByteArray input = fuzzBytes(data, size);
    const QList<QByteArray> fields = fuzzFields(input, 2);
    const QByteArray header = fields.at(0);
    const bool isWayland = header.startsWith('W');
    const QStringList ignored = QString::fromUtf8(header.mid(2)).split(QLatin1Char(','));
    QStringList infos;
    for (const QByteArray &line : fields.at(1).split('\n'))
        infos.append(QString::fromUtf8(line));

    const QStringList names = upgradeNoticeNames(infos, isWayland, ignored);
    if (names.isEmpty())
        return 0;

    const QString summary = QObject::tr("App Updates are available");
    const QString body = upgradeNoticeBody(names);
    // The mark of omitted names stands only after the third of four or more.
    const bool marked = body.endsWith(QLatin1String("..."));
    FUZZ_CHECK(names.size() > 3 ? marked : marked == names.constLast().endsWith(QLatin1String("...")));
    volatile int length = summary.size() + body.size();
    (void)length;
    return 0;
}
