// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

// The stand-in toolkit's appenders behind the program's log handler: place,
// modes, line format and rotation of the file; what reaches the console, and
// its form when the console is the journal; the escaping and cutting that the
// handler does before any appender sees a message, also of one an appender
// hands back to it; the line written from a signal handler, its form and
// its time stamp.
#include "logrules/log_text.h"
#include "util/log_handler.h"

#include <nlogmanager_p.h>
#include <nuvixcore/nlogmanager.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QtTest>

#include <ctime>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(logTest, "org.test.appender")

namespace {

// The wall clock of this process, moved by a number of seconds: the line a
// signal handler writes reads the clock itself, at the moment of writing.
long long g_clockShift = 0;

using ClockGetTime = int (*)(clockid_t, struct timespec *);
ClockGetTime realClockGetTime()
{
    static const auto real = reinterpret_cast<ClockGetTime>(::dlsym(RTLD_NEXT, "clock_gettime"));
    return real;
}

qint64 shiftedMSecs()
{
    struct timespec now = {};
    realClockGetTime()(CLOCK_REALTIME, &now);
    return (qint64(now.tv_sec) + g_clockShift) * 1000 + now.tv_nsec / 1000000;
}

// An appender of a toolkit that hands each message on to the handler it
// replaced once it has written it.
QtMessageHandler g_replaced = nullptr;
QStringList g_relayed;

void relayingAppender(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    g_relayed << message;
    g_replaced(type, context, message);
}

} // namespace

extern "C" int clock_gettime(clockid_t clock, struct timespec *now)
{
    const int result = realClockGetTime()(clock, now);
    if (result == 0 && clock == CLOCK_REALTIME)
        now->tv_sec += g_clockShift;
    return result;
}

class LogAppenderTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void writesLinesToPrivateFile();
    void keepsEachMessageOnOneSafeLine_data();
    void keepsEachMessageOnOneSafeLine();
    void boundsTheMessage_data();
    void boundsTheMessage();
    void keepsCredentialsOutOfDBusDumps_data();
    void keepsCredentialsOutOfDBusDumps();
    void messageHandedBack();
    void signalSafeLineStamp_data();
    void signalSafeLineStamp();
    void rotatesPastFourMiB();
    void readsJournalStream_data();
    void readsJournalStream();
    // Last: from here on messages also reach the console.
    void consoleLineForm_data();
    void consoleLineForm();

private:
    QByteArray fileTail(qint64 from) const;
    static QByteArray writtenSignalSafeLine(const SignalSafeLine &line, const QString &capture);

    QtMessageHandler m_appenders = nullptr;
    QString m_dir;
    QString m_file;
};

void LogAppenderTest::initTestCase()
{
    // A zone without daylight saving time whose offset has minutes.
    qputenv("TZ", "Asia/Kathmandu");
    ::tzset();
    const QString state = qEnvironmentVariable("ORVANE_TEST_TMPDIR") + QStringLiteral("/appender-state");
    qputenv("XDG_STATE_HOME", QFile::encodeName(state));
    QCoreApplication::setOrganizationName(QStringLiteral("orvane"));
    QCoreApplication::setApplicationName(QStringLiteral("appender-test"));
    m_dir = state + QStringLiteral("/orvane");
    m_file = m_dir + QStringLiteral("/appender-test.log");
    QVERIFY(!QFileInfo::exists(m_dir));
    // File only: the console would be flooded by the rotation test.
    Nuvix::Core::NLogManager::registerFileAppender();
    m_appenders = qInstallMessageHandler(nullptr);
    qInstallMessageHandler(m_appenders);
    installLogHandler();
}

void LogAppenderTest::writesLinesToPrivateFile()
{
    qCWarning(logTest) << "first line" << 42;
    qCWarning(logTest).noquote() << QStringLiteral("forged\n2026-01-01 00:00:00.000 [Critical] x\r");
    QFile file(m_file);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    QVERIFY2(
        QRegularExpression(
            QStringLiteral(
                R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[Warning\] \[org\.test\.appender\] \[\S+test_log_appender\.cpp:\d+\] \[void LogAppenderTest::writesLinesToPrivateFile\(\)\] first line 42\n)"
                R"(\S+ \S+ \[Warning\] .*\] forged\\n2026-01-01 00:00:00\.000 \[Critical\] x\\r\n$)"))
            .match(text)
            .hasMatch(),
        qPrintable(text));

    struct stat st = {};
    QCOMPARE(::stat(QFile::encodeName(m_dir).constData(), &st), 0);
    QCOMPARE(st.st_mode & 07777, mode_t(0700));
    QCOMPARE(::stat(QFile::encodeName(m_file).constData(), &st), 0);
    QCOMPARE(st.st_mode & 07777, mode_t(0600));
}

QByteArray LogAppenderTest::fileTail(qint64 from) const
{
    QFile file(m_file);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(from))
        return QByteArray();
    return file.readAll();
}

void LogAppenderTest::keepsEachMessageOnOneSafeLine_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("quoted");
    QTest::addColumn<QByteArray>("written");

    QTest::newRow("terminal control sequences")
        << QStringLiteral("\x1b[2J\x1b[31mred\x07") << false << QByteArray(R"(\x1B[2J\x1B[31mred\x07)");
    QTest::newRow("raw newline") << QStringLiteral("a\nb") << false << QByteArray(R"(a\nb)");
    QTest::newRow("backslashes of the text stay")
        << QStringLiteral(R"(\x1b \u009b \t \r \\ C:\dir\)") << false << QByteArray(R"(\x1b \u009b \t \r \\ C:\dir\)");
    QTest::newRow("quoted value reads as Qt writes it")
        << QString::fromUtf8("{\"a\": \"x\ty\\\\z\u202e\"}") << true << QByteArray(R"("{\"a\": \"x\ty\\\\z\u202E\"}")");
    QTest::newRow("tab, carriage return, backspace")
        << QStringLiteral("a\tb\rc\bd") << false << QByteArray(R"(a\tb\rc\x08d)");
    QTest::newRow("NUL and DEL") << QString::fromUtf8("a\0b\x7f", 4) << false << QByteArray(R"(a\x00b\x7F)");
    QTest::newRow("C1 control") << (QChar(0x9b) + QStringLiteral("2J")) << false << QByteArray(R"(\u009B2J)");
    QTest::newRow("line and paragraph separators")
        << QString::fromUtf8("a\u2028b\u2029c") << false << QByteArray(R"(a\u2028b\u2029c)");
    QTest::newRow("line separator in a quoted value")
        << QString::fromUtf8("a\u2028b") << true << QByteArray(R"("a\u2028b")");
    QTest::newRow("bidirectional overrides and isolates")
        << QString::fromUtf8("\u202atxt.\u202eexe\u202c \u2066a\u2067b\u2068c\u2069 \u202b\u202d") << false
        << QByteArray(R"(\u202Atxt.\u202Eexe\u202C \u2066a\u2067b\u2068c\u2069 \u202B\u202D)");
    QTest::newRow("first and last C1 control") << QString::fromUtf8("a\u0080b\u009fc\u00a0d") << false
                                               << QByteArray(R"(a\u0080b\u009Fc)")
            + "\xc2\xa0"
              "d";
    QTest::newRow("neighbours of the separators and bidirectional controls stay")
        << QString::fromUtf8("\u2027\u202f\u206a\u2065") << false
        << QString::fromUtf8("\u2027\u202f\u206a\u2065").toUtf8();
    QTest::newRow("other text stays") << QStringLiteral("Grüße ✓ [x] \"q\" \u200f\u2065") << false
                                      << QString::fromUtf8("Grüße ✓ [x] \"q\" \u200f\u2065").toUtf8();
}

void LogAppenderTest::keepsEachMessageOnOneSafeLine()
{
    QFETCH(QString, message);
    QFETCH(bool, quoted);
    QFETCH(QByteArray, written);

    const qint64 before = QFileInfo(m_file).size();
    if (quoted)
        qCWarning(logTest) << message;
    else
        qCWarning(logTest).noquote() << message;
    const QByteArray added = fileTail(before);
    QCOMPARE(added.count('\n'), 1);
    QVERIFY2(added.endsWith("] " + written + '\n'), added.constData());
    for (const char c : added.left(added.size() - 1))
        QVERIFY2(static_cast<unsigned char>(c) >= 0x20 && c != 0x7f, added.constData());
}

void LogAppenderTest::boundsTheMessage_data()
{
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<int>("maxBytes");
    QTest::addColumn<QByteArray>("escaped");

    QTest::newRow("fits exactly") << QByteArray("abc") << 3 << QByteArray("abc");
    QTest::newRow("plain cut") << QByteArray("abcdef") << 4 << QByteArray("abcd [cut: 2 bytes]");
    QTest::newRow("no character split") << QByteArray("ääää") << 3 << QByteArray("ä [cut: 6 bytes]");
    QTest::newRow("no escape split") << QByteArray("a\n\n") << 4 << QByteArray(R"(a\n [cut: 1 bytes])");
    QTest::newRow("cut after a kept backslash") << QByteArray(R"(a\")") << 2 << QByteArray(R"(a\ [cut: 1 bytes])");
    QTest::newRow("escape ending at the bound") << QByteArray("a\n") << 3 << QByteArray(R"(a\n)");
    QTest::newRow("character ending at the bound") << QByteArray("a\xc3\xa4") << 3 << QByteArray("a\xc3\xa4");
    QTest::newRow("\\u escape ending at the bound")
        << QString::fromUtf8("a\u0085").toUtf8() << 7 << QByteArray(R"(a\u0085)");
    QTest::newRow("four-byte character kept whole")
        << QByteArray("a\xf0\x9f\x98\x80") << 4 << QByteArray("a [cut: 4 bytes]");
    QTest::newRow("four-byte character ending at the bound") << QByteArray("a\xf0\x9f\x98\x80"
                                                                           "b")
                                                             << 5 << QByteArray("a\xf0\x9f\x98\x80 [cut: 1 bytes]");
    QTest::newRow("no \\u escape split") << QString::fromUtf8("a\u2028").toUtf8() << 4
                                         << QByteArray("a [cut: 3 bytes]");
    QTest::newRow("broken UTF-8 passes bytewise") << QByteArray("\xe4x\xff") << 10 << QByteArray("\xe4x\xff");
    QTest::newRow("default bound") << QByteArray(kMaxLogMessageBytes + 10, 'x') << kMaxLogMessageBytes
                                   << QByteArray(kMaxLogMessageBytes, 'x') + " [cut: 10 bytes]";
}

void LogAppenderTest::boundsTheMessage()
{
    QFETCH(QByteArray, message);
    QFETCH(int, maxBytes);
    QFETCH(QByteArray, escaped);
    QCOMPARE(escapeForLog(message, maxBytes), escaped);
}

void LogAppenderTest::keepsCredentialsOutOfDBusDumps_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QByteArray>("category");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("handedOn");

    const QString report = QStringLiteral(
        R"(QDBusConnectionPrivate(0x7f) sending message (no reply): QDBusMessage(type=MethodCall, )"
        R"(service="com.home.appstore.daemon", path="/appstore", interface="com.home.appstore.daemon.interface", )"
        R"(member="SetSystemProxy", signature="", contents=("alice", "{"http_proxy":"http://u:Secret1@h:1"}") ))");
    const QString redacted = report.left(report.indexOf(QLatin1String("contents=")))
        + QStringLiteral("contents=(***) )");
    const QString other = QStringLiteral(
        R"(QDBusConnectionPrivate(0x7f) sending message: QDBusMessage(type=MethodCall, member="GetNameOwner", )"
        R"(signature="", contents=("com.home.appstore.daemon") ))");
    QTest::newRow("Qt's dump of the proxy report") << int(QtDebugMsg) << QByteArray("default") << report << redacted;
    QTest::newRow("Qt's dump of another message") << int(QtDebugMsg) << QByteArray("default") << other << other;
    QTest::newRow("the daemon's own line")
        << int(QtDebugMsg) << QByteArray("com.orvane.app-store.session-daemon") << report << report;
    QTest::newRow("dump with a line break")
        << int(QtDebugMsg) << QByteArray("default")
        << QString(report).replace(QLatin1String("/appstore"), QLatin1String("/app\nstore"))
        << QString(redacted).replace(QLatin1String("/appstore"), QLatin1String("/app\\nstore"));
}

void LogAppenderTest::keepsCredentialsOutOfDBusDumps()
{
    QFETCH(int, type);
    QFETCH(QByteArray, category);
    QFETCH(QString, message);
    QFETCH(QString, handedOn);
    QCOMPARE(logMessageText(QtMsgType(type), category.constData(), message), handedOn);
}

void LogAppenderTest::messageHandedBack()
{
    // The toolkit's handler goes in front of the program's, and the program's
    // in front of it again, as at the start of the program.
    g_replaced = qInstallMessageHandler(relayingAppender);
    installLogHandler();
    g_relayed.clear();
    const qint64 before = QFileInfo(m_file).size();
    qCWarning(logTest).noquote() << "handed on\x1b[2J";
    qInstallMessageHandler(m_appenders);
    installLogHandler();

    // The appender saw the message once, made safe, and it reached the file
    // once, through the handler that was there first.
    QCOMPARE(g_relayed, QStringList{QStringLiteral(R"(handed on\x1B[2J)")});
    const QByteArray added = fileTail(before);
    QCOMPARE(added.count('\n'), 1);
    QVERIFY2(added.endsWith(R"(] handed on\x1B[2J)"
                            "\n"),
             added.constData());
}

QByteArray LogAppenderTest::writtenSignalSafeLine(const SignalSafeLine &line, const QString &capture)
{
    const int captureFd = ::open(QFile::encodeName(capture).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (captureFd < 0)
        return QByteArray();
    const int savedStderr = ::dup(STDERR_FILENO);
    ::dup2(captureFd, STDERR_FILENO);
    ::close(captureFd);
    writeSignalSafeLine(line);
    ::dup2(savedStderr, STDERR_FILENO);
    ::close(savedStderr);
    QFile file(capture);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void LogAppenderTest::signalSafeLineStamp_data()
{
    // The local time of the zone at which the clock is set.
    QTest::addColumn<QString>("clock");

    QTest::newRow("now") << QString();
    QTest::newRow("a leap day") << "2028-02-29 12:00:00";
    QTest::newRow("the day after a leap day") << "2028-03-01 00:00:05";
    QTest::newRow("a new year here while the old one goes on in UTC") << "2027-01-01 00:10:00";
    QTest::newRow("no leap day in a century year") << "2100-03-01 00:10:00";
    QTest::newRow("a leap day in a year divisible by 400") << "2000-02-29 23:59:50";
    QTest::newRow("the last day of a year") << "2031-12-31 23:00:00";
}

void LogAppenderTest::signalSafeLineStamp()
{
    QFETCH(QString, clock);

    // Formatted long before it is written, as the line of abort() is.
    qunsetenv("JOURNAL_STREAM");
    SignalSafeLine line;
    const QMessageLogContext context("file.cpp", 12, "void f()", "org.test.appender");
    prepareSignalSafeLine(&line, QtDebugMsg, context, QStringLiteral("abort line"));

    const QString format = QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz");
    if (!clock.isEmpty()) {
        const QDateTime at = QDateTime::fromString(clock, QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        QVERIFY(at.isValid());
        g_clockShift = at.toSecsSinceEpoch() - shiftedMSecs() / 1000;
    }
    const QString earliest = QDateTime::fromMSecsSinceEpoch(shiftedMSecs()).toString(format);
    const QByteArray written = writtenSignalSafeLine(line, m_dir + QStringLiteral("/../signal-line"));
    const QString latest = QDateTime::fromMSecsSinceEpoch(shiftedMSecs()).toString(format);
    g_clockShift = 0;

    QVERIFY2(written.endsWith(" [Debug] [org.test.appender] [file.cpp:12] [void f()] abort line\n"),
             written.constData());
    const QString stamp = QString::fromLatin1(written.left(format.size()));
    QVERIFY2(earliest <= stamp && stamp <= latest, qPrintable(earliest + " " + stamp + " " + latest));
    QVERIFY(clock.isEmpty() || stamp.startsWith(clock.left(10)));
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

    // Again, with a link planted as the previous file: the link is replaced,
    // its target untouched, and there is never a third file.
    const QString target = m_dir + QStringLiteral("/../planted-target");
    QFile planted(target);
    QVERIFY(planted.open(QIODevice::WriteOnly));
    planted.write("kept\n");
    planted.close();
    QVERIFY(QFile::remove(m_file + QStringLiteral(".1")));
    QVERIFY(QFile::link(target, m_file + QStringLiteral(".1")));
    for (int i = 0; i < 4300; ++i)
        qCWarning(logTest).noquote() << filler;
    QCOMPARE(QDir(m_dir).entryList(QDir::Files | QDir::System).size(), 2);
    QVERIFY(!QFileInfo(m_file + QStringLiteral(".1")).isSymLink());
    QVERIFY(planted.open(QIODevice::ReadOnly));
    QCOMPARE(planted.readAll(), QByteArray("kept\n"));
}

void LogAppenderTest::readsJournalStream_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<quint64>("device");
    QTest::addColumn<quint64>("inode");

    QTest::newRow("device and inode") << QByteArray("64769:1234567") << true << quint64(64769) << quint64(1234567);
    QTest::newRow("largest values") << QByteArray("18446744073709551615:0") << true << quint64(18446744073709551615ull)
                                    << quint64(0);
    QTest::newRow("overflow") << QByteArray("18446744073709551616:1") << false << quint64(0) << quint64(0);
    QTest::newRow("unset") << QByteArray() << false << quint64(0) << quint64(0);
    QTest::newRow("no inode") << QByteArray("12:") << false << quint64(0) << quint64(0);
    QTest::newRow("no device") << QByteArray(":12") << false << quint64(0) << quint64(0);
    QTest::newRow("two colons") << QByteArray("1:2:3") << false << quint64(0) << quint64(0);
    QTest::newRow("sign") << QByteArray("+1:2") << false << quint64(0) << quint64(0);
    QTest::newRow("blank") << QByteArray("1: 2") << false << quint64(0) << quint64(0);
}

void LogAppenderTest::readsJournalStream()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, valid);
    QFETCH(quint64, device);
    QFETCH(quint64, inode);
    quint64 parsedDevice = 0;
    quint64 parsedInode = 0;
    QCOMPARE(Nuvix::Core::LogText::parseJournalStream(text, &parsedDevice, &parsedInode), valid);
    if (valid) {
        QCOMPARE(parsedDevice, device);
        QCOMPARE(parsedInode, inode);
    }
}

void LogAppenderTest::consoleLineForm_data()
{
    QTest::addColumn<QString>("stream");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray stamped = R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[)";
    QTest::newRow("journal") << QStringLiteral("stderr") << QByteArray(R"(^<LEVEL>\[)");
    QTest::newRow("another file") << QStringLiteral("other") << stamped;
    QTest::newRow("unset") << QString() << stamped;
    QTest::newRow("garbage") << QStringLiteral("x") << stamped;
    QTest::newRow("inode of standard error on another device") << QStringLiteral("another device") << stamped;
}

void LogAppenderTest::consoleLineForm()
{
    QFETCH(QString, stream);
    QFETCH(QByteArray, expected);

    const QString capture = m_dir + QStringLiteral("/../console-") + QString::fromLatin1(QTest::currentDataTag());
    const QString other = m_dir + QStringLiteral("/../console-other");
    QFile::remove(capture);
    QFile(other).open(QIODevice::WriteOnly);
    const int captureFd = ::open(QFile::encodeName(capture).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    QVERIFY(captureFd >= 0);
    struct stat st = {};
    const bool ofStderr = stream == QLatin1String("stderr") || stream == QLatin1String("another device");
    QCOMPARE(::stat(QFile::encodeName(ofStderr ? capture : other).constData(), &st), 0);
    if (stream.isNull())
        qunsetenv("JOURNAL_STREAM");
    else if (stream == QLatin1String("x"))
        qputenv("JOURNAL_STREAM", "x");
    else if (stream == QLatin1String("another device"))
        qputenv("JOURNAL_STREAM",
                QByteArray::number(quint64(st.st_dev) + 1) + ':' + QByteArray::number(quint64(st.st_ino)));
    else
        qputenv("JOURNAL_STREAM",
                QByteArray::number(quint64(st.st_dev)) + ':' + QByteArray::number(quint64(st.st_ino)));

    const int savedStderr = ::dup(STDERR_FILENO);
    ::dup2(captureFd, STDERR_FILENO);
    ::close(captureFd);
    const qint64 fileBefore = QFileInfo(m_file).size();
    Nuvix::Core::NLogManager::registerConsoleAppender();
    installLogHandler();
    qCDebug(logTest) << "debug line";
    qCWarning(logTest).noquote() << "warning line\x1b[31m";
    qCCritical(logTest) << "critical line";
    // The line a signal handler writes takes the same form.
    SignalSafeLine signalLine;
    const QMessageLogContext context("file.cpp", 12, "void f()", "org.test.appender");
    prepareSignalSafeLine(&signalLine, QtDebugMsg, context, QStringLiteral("signal line"));
    writeSignalSafeLine(signalLine);
    ::dup2(savedStderr, STDERR_FILENO);
    ::close(savedStderr);
    qunsetenv("JOURNAL_STREAM");

    QFile file(capture);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    QCOMPARE(lines.size(), 5);
    const char *levels[] = {"7", "4", "3", "7"};
    for (int i = 0; i < 4; ++i) {
        const QByteArray pattern = QByteArray(expected).replace("LEVEL", levels[i]);
        QVERIFY2(QRegularExpression(QString::fromLatin1(pattern)).match(QString::fromUtf8(lines.at(i))).hasMatch(),
                 lines.at(i).constData());
    }
    QVERIFY2(lines.at(1).endsWith(R"(] warning line\x1B[31m)"), lines.at(1).constData());
    QVERIFY2(lines.at(3).endsWith("[Debug] [org.test.appender] [file.cpp:12] [void f()] signal line"),
             lines.at(3).constData());
    // The file's form never changes.
    const QByteArray added = fileTail(fileBefore);
    QVERIFY2(
        QRegularExpression(
            QStringLiteral(R"(^\d{4}-\d\d-\d\d \S+ \[Debug\] .*\n\S+ \S+ \[Warning\] .*\n\S+ \S+ \[Critical\] .*\n$)"))
            .match(QString::fromUtf8(added))
            .hasMatch(),
        added.constData());
}

QTEST_GUILESS_MAIN(LogAppenderTest)
#include "test_log_appender.moc"
