// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

// Splitting of logging rule texts as they come from QT_LOGGING_RULES and the
// toolkit configuration, and the watcher's reaction to a configuration change.
#include "logrules/log_rules_watcher.h"

#include "nconfig/nconfig_watcher.h"

#include <QLoggingCategory>
#include <QtTest>

Q_LOGGING_CATEGORY(logFirst, "org.test.first")
Q_LOGGING_CATEGORY(logSecond, "org.test.second")

class LogRulesTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void parseLogRules_data();
    void parseLogRules();
    void configurationChange_data();
    void configurationChange();
};

void LogRulesTest::parseLogRules_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("rules");

    QTest::newRow("unset variable") << QString() << QStringList();
    QTest::newRow("empty text") << QStringLiteral("") << QStringList();
    QTest::newRow("only semicolons") << QStringLiteral(";;;") << QStringList();
    QTest::newRow("two rules in order")
        << QStringLiteral("*.debug=false;com.orvane.app-store.session-daemon.debug=true")
        << QStringList{QStringLiteral("*.debug=false"),
                       QStringLiteral("com.orvane.app-store.session-daemon.debug=true")};
    QTest::newRow("empty segments dropped")
        << QStringLiteral(";;a.debug=true;") << QStringList{QStringLiteral("a.debug=true")};
    QTest::newRow("leading blank kept") << QStringLiteral(
        "a.debug=false; b.debug=true") << QStringList{QStringLiteral("a.debug=false"), QStringLiteral(" b.debug=true")};
    QTest::newRow("trailing blank kept") << QStringLiteral("a.debug=false ;")
                                         << QStringList{QStringLiteral("a.debug=false ")};
    QTest::newRow("newline is no separator")
        << QStringLiteral("a.debug=false\nb.debug=true") << QStringList{QStringLiteral("a.debug=false\nb.debug=true")};
}

void LogRulesTest::parseLogRules()
{
    QFETCH(QString, text);
    QFETCH(QStringList, rules);
    QCOMPARE(LogRulesWatcher::parseLogRules(text), rules);
}

void LogRulesTest::configurationChange_data()
{
    QTest::addColumn<QString>("appId");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("subpath");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<bool>("firstDebug");
    QTest::addColumn<bool>("secondDebug");

    const QString appId = QString::fromLatin1(kNConfigAppStoreAppId);
    const QString name = QString::fromLatin1(kNConfigAppStoreName);
    const QString key = QStringLiteral("log_rules");
    const QVariant secondOff = QStringLiteral("org.test.second.debug=false");

    // Before each change the environment has turned debug output of "first" off.
    QTest::newRow("new rules replace the environment's")
        << appId << name << QString() << key << secondOff << true << false;
    QTest::newRow("several rules, in order")
        << appId << name << QString() << key
        << QVariant(QStringLiteral("org.test.*.debug=false;org.test.second.debug=true")) << false << true;
    QTest::newRow("empty text drops every rule")
        << appId << name << QString() << key << QVariant(QString()) << true << true;
    QTest::newRow("invalid value drops every rule") << appId << name << QString() << key << QVariant() << true << true;
    QTest::newRow("another application id")
        << QStringLiteral("other-app") << name << QString() << key << secondOff << false << true;
    QTest::newRow("another configuration name")
        << appId << QStringLiteral("com.orvane.other") << QString() << key << secondOff << false << true;
    QTest::newRow("a subpath") << appId << name << QStringLiteral("/sub") << key << secondOff << false << true;
    QTest::newRow("another key") << appId << name << QString() << QStringLiteral("log_level") << secondOff << false
                                 << true;
    QTest::newRow("key of another case") << appId << name << QString() << QStringLiteral("Log_Rules") << secondOff
                                         << false << true;
    QTest::newRow("application id of another case")
        << appId.toUpper() << name << QString() << key << secondOff << false << true;
}

void LogRulesTest::configurationChange()
{
    QFETCH(QString, appId);
    QFETCH(QString, name);
    QFETCH(QString, subpath);
    QFETCH(QString, key);
    QFETCH(QVariant, value);
    QFETCH(bool, firstDebug);
    QFETCH(bool, secondDebug);

    qputenv("QT_LOGGING_RULES", "org.test.first.debug=false");
    LogRulesWatcher watcher;
    QVERIFY(!qEnvironmentVariableIsSet("QT_LOGGING_RULES"));
    QVERIFY(!logFirst().isDebugEnabled());
    QVERIFY(logSecond().isDebugEnabled());

    Q_EMIT NConfigWatcher::instance()->sigValueChanged(appId, name, subpath, key, value);
    QCOMPARE(logFirst().isDebugEnabled(), firstDebug);
    QCOMPARE(logSecond().isDebugEnabled(), secondDebug);
    // Other levels are untouched by debug rules.
    QVERIFY(logFirst().isWarningEnabled());
    QVERIFY(logSecond().isWarningEnabled());
}

QTEST_GUILESS_MAIN(LogRulesTest)
#include "test_log_rules.moc"
