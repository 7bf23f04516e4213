// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

// Installs the process's logging filter rules from QT_LOGGING_RULES and the
// toolkit configuration, and removes the variable from the environment so that
// neither Qt nor a child process reads it again.
#pragma once

#include <QObject>
#include <QStringList>

class QVariant;

class LogRulesWatcher : public QObject
{
    Q_OBJECT

public:
    explicit LogRulesWatcher(QObject *parent = nullptr);
    ~LogRulesWatcher() override;

    // Splits a rule text at ";" and drops empty segments; nothing is trimmed.
    static QStringList parseLogRules(const QString &rules);

private Q_SLOTS:
    void slotNConfigValueChanged(const QString &appId, const QString &name, const QString &subpath, const QString &key,
                                 const QVariant &value);

private:
    void initLogRules();
    void initConnections();

    QStringList m_logRules;
};
