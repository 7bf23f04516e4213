// The toolkit's file appender: place, modes, line format and rotation.
#include <nuvixcore/nlogmanager.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QtTest>

#include <sys/stat.h>

Q_LOGGING_CATEGORY(logTest, "org.test.appender")

class LogAppenderTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void writesLinesToPrivateFile();
    void rotatesPastFourMiB();

private:
    QString m_dir;
    QString m_file;
};

void LogAppenderTest::initTestCase()
{
    const QString state = qEnvironmentVariable("ORVANE_TEST_TMPDIR") + QStringLiteral("/appender-state");
    qputenv("XDG_STATE_HOME", QFile::encodeName(state));
    QCoreApplication::setOrganizationName(QStringLiteral("orvane"));
    QCoreApplication::setApplicationName(QStringLiteral("appender-test"));
    m_dir = state + QStringLiteral("/orvane");
    m_file = m_dir + QStringLiteral("/appender-test.log");
    QVERIFY(!QFileInfo::exists(m_dir));
    // File only: the console would be flooded by the rotation test.
    Nuvix::Core::NLogManager::registerFileAppender();
}

void LogAppenderTest::writesLinesToPrivateFile()
{
    qCWarning(logTest) << "first line" << 42;
    qCWarning(logTest).noquote() << QStringLiteral("forged\n2026-01-01 00:00:00.000 [Critical] x\r");
    QFile file(m_file);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    QVERIFY2(QRegularExpression(QStringLiteral(
                 R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[Warning\] \[org\.test\.appender\] \[\S+test_log_appender\.cpp:\d+\] \[void LogAppenderTest::writesLinesToPrivateFile\(\)\] first line 42\n)"
                                    R"(\S+ \S+ \[Warning\] .*\] forged\\n2026-01-01 00:00:00\.000 \[Critical\] x\\r\n$)"))
                 .match(text)
                 .hasMatch(),
             qPrintable(text));

    struct stat st {};
    QCOMPARE(::stat(QFile::encodeName(m_dir).constData(), &st), 0);
    QCOMPARE(st.st_mode & 07777, mode_t(0700));
    QCOMPARE(::stat(QFile::encodeName(m_file).constData(), &st), 0);
    QCOMPARE(st.st_mode & 07777, mode_t(0600));
}

void LogAppenderTest::rotatesPastFourMiB()
{
    const QString filler(1000, QLatin1Char('x'));
    for (int i = 0; i < 4300; ++i) // a little over 4 MiB of lines
        qCWarning(logTest).noquote() << filler;
    qCWarning(logTest) << "after rotation";

    const QFileInfo current(m_file);
    const QFileInfo previous(m_file + QStringLiteral(".1"));
    QVERIFY(previous.exists());
    QVERIFY(previous.size() > 4 * 1024 * 1024);
    QVERIFY(previous.size() < 4 * 1024 * 1024 + 2000);
    QVERIFY(current.size() < 1024 * 1024);
    QFile file(m_file);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().contains("after rotation"));
    QCOMPARE(int(QFile::permissions(m_file) & (QFile::ReadOther | QFile::ReadGroup)), 0);

    // Again: the old .1 is replaced, never a third file.
    for (int i = 0; i < 4300; ++i)
        qCWarning(logTest).noquote() << filler;
    QCOMPARE(QDir(m_dir).entryList(QDir::Files).size(), 2);
}

QTEST_GUILESS_MAIN(LogAppenderTest)
#include "test_log_appender.moc"
