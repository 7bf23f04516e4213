// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

// The lock service's answer to "CurrentUser", up to the login name the
// daemon takes from it and the warning it logs.
#include "fuzz_check.h"
#include "fuzz_cost.h"
#include "fuzz_input.h"
#include "logrules/log_text.h"
#include "peerjson/peer_json.h"
#include "session/session_facts.h"

#include <QDebug>
#include <QJsonDocument>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray answer = fuzzBytes(data, size);
    // Qt's own parse first: what it sets up once is not counted against the reader.
    bool qtObject = false;
    const size_t qt = fuzzPeakOfQt([&] { qtObject = QJsonDocument::fromJson(answer).isObject(); });
    CurrentUserAnswer user;
    const size_t own = fuzzPeakOf([&] { user = parseCurrentUser(answer); });
    FUZZ_CHECK(fuzzWithinShare(own, qt, size));
    // What the guard against repeated keys cuts out of the text is parsed on
    // its own: an answer within the bound is read as JSON exactly when Qt
    // reads it so.
    FUZZ_CHECK(answer.size() > kMaxPeerTextBytes || user.parsed == qtObject);

    QString line;
    QString logName;
    if (!user.parsed) {
        QDebug(&line) << "Parse CurrentUser failed:" << user.parseError << cutForLog(answer);
    } else if (user.hasName && !user.name.isEmpty()) {
        if (isPlausibleLoginName(user.name)) {
            logName = user.name;
            FUZZ_CHECK(logName == logName.trimmed() && !logName.contains(QLatin1Char(':'))
                       && !logName.contains(QLatin1Char('/')));
        } else {
            QDebug(&line) << "CurrentUser name refused:" << cutForLog(user.name);
        }
    } else if (user.hasUid && user.uid) {
        // The user database is asked for this id; its answer is not peer text.
        logName = QString::number(*user.uid);
    }
    // Peer text quoted in a warning is cut: the line stays bounded whatever came.
    FUZZ_CHECK(line.size() < 6 * kLogQuoteLimit + 200);
    // What reaches an appender holds nothing that splits or reorders a line.
    FUZZ_CHECK(!holdsUnsafeForLog(logMessageText(QtWarningMsg, "com.orvane.app-store.session-daemon", line)));
    FUZZ_CHECK(logName.isEmpty() || !holdsUnsafeForLog(logName));
    return 0;
}
