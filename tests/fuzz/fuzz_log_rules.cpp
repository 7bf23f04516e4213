// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

// A logging rules text (QT_LOGGING_RULES or the configuration's "log_rules"),
// up to the filter rules installed in Qt.
#include "fuzz_check.h"
#include "fuzz_input.h"
#include "logrules/log_rules_watcher.h"

#include <QLoggingCategory>

Q_LOGGING_CATEGORY(logFuzz, "com.orvane.app-store.session-daemon")

namespace {
// Qt warns about every malformed rule; at fuzzing speed that is all it would do.
[[maybe_unused]] const bool kQuiet = (qInstallMessageHandler(
                                          [](QtMsgType, const QMessageLogContext &, const QString &) {}),
                                      true);
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(fuzzBytes(data, size));
    const QStringList rules = LogRulesWatcher::parseLogRules(text);

    for (const QString &rule : rules)
        FUZZ_CHECK(!rule.isEmpty() && !rule.contains(QLatin1Char(';')));
    // Nothing but the separators is dropped, nothing is trimmed.
    FUZZ_CHECK(rules.join(QString()) == QString(text).remove(QLatin1Char(';')));

    QLoggingCategory::setFilterRules(rules.join(QLatin1Char('\n')));
    volatile bool debugOn = logFuzz().isDebugEnabled();
    (void)debugOn;
    return 0;
}
