// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

// The system daemon's "sigSystemNotificationSent" payload, up to the eight
// values of the notice the session shows for it, if any.
#include "fuzz_check.h"
#include "fuzz_cost.h"
#include "fuzz_input.h"
#include "notices/notice_values.h"

#include <QJsonDocument>

namespace {
const QString kSessionUser = QStringLiteral("alice");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString payload = QString::fromUtf8(fuzzBytes(data, size));
    // Qt's own parse first: what it sets up once is not counted against the reader.
    const size_t qt = fuzzPeakOfQt([&] { QJsonDocument::fromJson(payload.toUtf8()); });
    std::optional<_System_Notification_Data> notice;
    const size_t own = fuzzPeakOf([&] { notice = systemNoticeFor(payload, kSessionUser); });
    FUZZ_CHECK(fuzzWithinShare(own, qt, size));
    if (!notice)
        return 0;
    FUZZ_CHECK(notice->logname == kSessionUser);

    const std::optional<NotifyValues> values = pkgOpNotifyValues(notice->opt, notice->appName, notice->packageName);
    FUZZ_CHECK(values.has_value() == (notice->opt != OptNone));
    if (!values)
        return 0;
    FUZZ_CHECK(values->appName == QLatin1String("orvane-app-store") && values->replaceId == 0);
    FUZZ_CHECK(values->body.isEmpty() && values->actions.isEmpty() && values->hints.isEmpty());
    FUZZ_CHECK(values->timeout == 3000);
    // Only the seven outcomes have a text; any other value shows an empty notice.
    const bool known = notice->opt >= OptInstallSucceeded && notice->opt <= OptNewVersion;
    FUZZ_CHECK(known || (values->summary.isEmpty() && values->appIcon.isEmpty()));
    return 0;
}
