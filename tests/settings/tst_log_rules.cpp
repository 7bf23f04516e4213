// Splitting of logging rule texts as they come from QT_LOGGING_RULES and the
// toolkit configuration.
#include "logrules/log_rules_watcher.h"

#include <QtTest>

class TestLogRules : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void parseLogRules_data();
    void parseLogRules();
};

void TestLogRules::parseLogRules_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("rules");

    QTest::newRow("unset variable") << QString() << QStringList();
    QTest::newRow("empty text") << QStringLiteral("") << QStringList();
    QTest::newRow("only semicolons") << QStringLiteral(";;;") << QStringList();
    QTest::newRow("two rules in order")
        << QStringLiteral("*.debug=false;com.orvane.app-store.session-daemon.debug=true")
        << QStringList{QStringLiteral("*.debug=false"), QStringLiteral("com.orvane.app-store.session-daemon.debug=true")};
    QTest::newRow("empty segments dropped") << QStringLiteral(";;a.debug=true;")
                                            << QStringList{QStringLiteral("a.debug=true")};
    QTest::newRow("leading blank kept") << QStringLiteral("a.debug=false; b.debug=true")
                                        << QStringList{QStringLiteral("a.debug=false"), QStringLiteral(" b.debug=true")};
    QTest::newRow("trailing blank kept") << QStringLiteral("a.debug=false ;") << QStringList{QStringLiteral("a.debug=false ")};
    QTest::newRow("newline is no separator") << QStringLiteral("a.debug=false\nb.debug=true")
                                             << QStringList{QStringLiteral("a.debug=false\nb.debug=true")};
}

void TestLogRules::parseLogRules()
{
    QFETCH(QString, text);
    QFETCH(QStringList, rules);
    QCOMPARE(LogRulesWatcher::parseLogRules(text), rules);
}

QTEST_GUILESS_MAIN(TestLogRules)
#include "tst_log_rules.moc"
