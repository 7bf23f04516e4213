// The system daemon's "sigSystemNotificationSent" payload, up to the eight
// values of the notice the session shows for it, if any.
#include "dbus/payload_parsers.h"
#include "fuzz_check.h"
#include "fuzz_input.h"

#include <QCoreApplication>

#include <optional>

namespace {
const QString kSessionUser = QStringLiteral("alice");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString payload = QString::fromUtf8(fuzzBytes(data, size));
    const std::optional<_System_Notification_Data> notice = parseSystemNotification(payload);
    if (!notice)
        return 0;
    if (notice->opt == OptNone && notice->appName.isEmpty() && notice->packageName.isEmpty()
        && notice->logname.isEmpty())
        return 0;
    if (notice->logname != kSessionUser || notice->opt == OptNone)
        return 0;

    const PkgOpNoticeText text = pkgOpNoticeText(notice->opt);
    QString summary;
    if (text.summary) {
        summary = QCoreApplication::translate("QObject", text.summary);
        if (text.fillsPlaceholder) {
            const bool namedByPackage = notice->opt == OptRemoveSucceeded && notice->appName.isEmpty();
            summary = summary.arg(namedByPackage ? notice->packageName : notice->appName);
        }
    }
    FUZZ_CHECK(notice->opt >= OptInstallSucceeded && notice->opt <= OptNewVersion ? text.summary != nullptr
                                                                                   : summary.isEmpty());
    volatile int length = summary.size() + text.icon.size();
    (void)length;
    return 0;
}
