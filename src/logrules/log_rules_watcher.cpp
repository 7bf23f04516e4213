// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

#include "logrules/log_rules_watcher.h"

#include "nconfig/nconfig_watcher.h"

#include <QLoggingCategory>
#include <QVariant>

namespace {
const char kRulesVariable[] = "QT_LOGGING_RULES";
const QString kLogRulesKey = QStringLiteral("log_rules");
} // namespace

LogRulesWatcher::LogRulesWatcher(QObject *parent)
    : QObject(parent)
{
    initLogRules();
    initConnections();
}

LogRulesWatcher::~LogRulesWatcher() = default;

QStringList LogRulesWatcher::parseLogRules(const QString &rules)
{
    return rules.split(QLatin1Char(';'), Qt::SkipEmptyParts, Qt::CaseSensitive);
}

void LogRulesWatcher::initLogRules()
{
    const QByteArray environmentRules = qgetenv(kRulesVariable);
    m_logRules = parseLogRules(environmentRules.isNull() ? QString() : QString::fromUtf8(environmentRules));
    // Qt would otherwise give the variable precedence over the rules set here.
    qunsetenv(kRulesVariable);

    const QVariant configured = NConfigWatcher::instance()->getValueSync(
        QString::fromLatin1(kNConfigAppStoreAppId), QString::fromLatin1(kNConfigAppStoreName), QString(), kLogRulesKey);
    m_logRules.append(parseLogRules(configured.toString()));

    QLoggingCategory::setFilterRules(m_logRules.join(QLatin1Char('\n')));
}

void LogRulesWatcher::initConnections()
{
    connect(NConfigWatcher::instance(), &NConfigWatcher::sigValueChanged, this,
            &LogRulesWatcher::slotNConfigValueChanged);
}

void LogRulesWatcher::slotNConfigValueChanged(const QString &appId, const QString &name, const QString &subpath,
                                              const QString &key, const QVariant &value)
{
    if (appId != QLatin1String(kNConfigAppStoreAppId) || name != QLatin1String(kNConfigAppStoreName)
        || !subpath.isEmpty())
        return;
    if (key != kLogRulesKey)
        return;

    m_logRules.clear();
    m_logRules.append(parseLogRules(value.toString()));
    QLoggingCategory::setFilterRules(m_logRules.join(QLatin1Char('\n')));
}
