// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

// slotInstallProgress invoked by name, as its outside caller does: which
// completed installs start the package's bottle script, how (detached: the
// script runs on in a session of its own, and nothing is left to reap), and
// what is logged. Runs with /opt/apps grafted onto a directory of the test's
// own, and with a recording stand-in for bash first on PATH.
#include "dbus/appstore_daemon_interface.h"
#include "logrules/log_text.h"
#include "util/bottle_script.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// How long a test waits for something it expects to happen: an assert of
// behaviour, not of speed, so generous enough for a sanitized build on a busy
// 2-core machine.
constexpr int kWaitMs = 30000;

const QString kAppId = QStringLiteral("orvane-app-store");
const QString kApps = QStringLiteral("/opt/apps");

QStringList g_messages;
QtMessageHandler g_previousHandler = nullptr;

void recordMessage(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (qstrcmp(context.category, "com.orvane.app-store.session-daemon") == 0)
        g_messages << (type == QtDebugMsg ? QStringLiteral("D ") : QStringLiteral("W ")) + text;
    g_previousHandler(type, context, text);
}

QString briefInfo(const QString &name, int packageMode = 1, int installMode = 1)
{
    const QJsonObject info{{QStringLiteral("package_name"), name},
                           {QStringLiteral("package_mode"), packageMode},
                           {QStringLiteral("pkgInstallMode"), installMode}};
    return QString::fromUtf8(
        QJsonDocument(QJsonObject{{QStringLiteral("appBriefInfo"), info}}).toJson(QJsonDocument::Compact));
}

QString debugLine(const QString &package, int mode)
{
    return QStringLiteral("D \"Package %1 install succeeded, package_mode: %2\"").arg(package, QString::number(mode));
}

QString scriptOf(const QString &package)
{
    return QStringLiteral("/opt/apps/%1/files/run.sh").arg(package);
}

bool writeScript(const QString &path, const QByteArray &text = "#!/bin/sh\nexit 0\n")
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(text);
    file.close();
    return file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

bool setOwner(const QString &path, uid_t uid)
{
    return ::lchown(QFile::encodeName(path).constData(), uid, uid) == 0;
}

bool setMode(const QString &path, mode_t mode)
{
    return ::chmod(QFile::encodeName(path).constData(), mode) == 0;
}

QString refusal(const QString &package, const QString &fault)
{
    return QStringLiteral("W \"Package %1 run.sh refused, skip creating bottle: %2\"").arg(package, fault);
}

constexpr uid_t kNobody = 65534;

// The user manager's StartTransientUnit as a test sees it: every call is
// recorded and answered with a job, but no process is moved.
class FakeUserManager : public QDBusVirtualObject
{
public:
    QList<QDBusMessage> calls;

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        if (message.member() != QLatin1String("StartTransientUnit"))
            return false;
        calls << message;
        connection.send(message.createReply(QVariant::fromValue(QDBusObjectPath("/org/freedesktop/systemd1/job/1"))));
        return true;
    }
    QString introspect(const QString &) const override { return QString(); }
};

// The properties of a StartTransientUnit call.
QVariantMap transientUnitProperties(const QDBusMessage &call)
{
    QVariantMap properties;
    const QDBusArgument list = call.arguments().value(2).value<QDBusArgument>();
    list.beginArray();
    while (!list.atEnd()) {
        QString name;
        QDBusVariant value;
        list.beginStructure();
        list >> name >> value;
        list.endStructure();
        properties.insert(name, value.variant());
    }
    list.endArray();
    return properties;
}

QList<uint> transientUnitPids(const QVariantMap &properties)
{
    QList<uint> pids;
    properties.value(QStringLiteral("PIDs")).value<QDBusArgument>() >> pids;
    return pids;
}

// Stands in for the program's own handler of termination signals, which
// hands the signal to its loop through a pipe.
int g_signalPipe[2] = {-1, -1};

void passSignalOn(int sig)
{
    const unsigned char byte = static_cast<unsigned char>(sig);
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], &byte, 1);
}

bool isRunning(pid_t pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = stat.readAll();
    const int end = text.lastIndexOf(')');
    return end > 0 && text.mid(end + 2, 1) != "Z";
}

const QString kUserManagerService = QStringLiteral("org.freedesktop.systemd1");
const QString kUserManagerPath = QStringLiteral("/org/freedesktop/systemd1");

// The fake above under the user manager's name and path, on a session bus
// connection of its own, for as long as it lives.
class UserManagerOnBus
{
public:
    explicit UserManagerOnBus(const QString &connectionName)
        : m_connectionName(connectionName)
        , m_connection(QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName))
    {
        m_registered = m_connection.registerVirtualObject(kUserManagerPath, &fake)
            && m_connection.registerService(kUserManagerService);
    }
    ~UserManagerOnBus()
    {
        m_connection.unregisterService(kUserManagerService);
        m_connection.unregisterObject(kUserManagerPath);
        QDBusConnection::disconnectFromBus(m_connectionName);
    }
    Q_DISABLE_COPY(UserManagerOnBus)

    bool isRegistered() const { return m_registered; }

    FakeUserManager fake;

private:
    const QString m_connectionName;
    QDBusConnection m_connection;
    bool m_registered = false;
};

} // namespace

class InstallProgressTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void installProgress_data();
    void installProgress();
    void appsDirectoryWritable();
    void appScopeName_data();
    void appScopeName();
    void scopeOfItsOwn();
    void signalWhileWaitingForItsScope();

private:
    bool invoke(const QString &id, const QString &package, int state, int total, int progress,
                const QString &statusMsg);
    QList<QStringList> startedBash() const;
    QList<QList<qint64>> startedProcesses() const;

    QObject *m_daemon = nullptr;
    QString m_record;
    QString m_processes;
    QString m_lastingEnded;
    QString m_trapName;
    QList<QStringList> m_expectedStarts;
};

void InstallProgressTest::initTestCase()
{
    const QString tmp = qEnvironmentVariable("ORVANE_TEST_TMPDIR");
    QVERIFY(!tmp.isEmpty());
    // Fails unless the test runs inside the graft: never write the real /opt/apps.
    QVERIFY2(QFileInfo(kApps).isDir() && QDir(kApps).isEmpty(), "/opt/apps is not the test's own");

    // bash's stand-in appends one line per start: its arguments, each ended by
    // US; and to another file its process id, parent and session. Then it runs
    // the command, a script and its argument, as bash would (in the same
    // process, as the command is a simple one).
    const QString bin = tmp + QStringLiteral("/bin");
    m_record = tmp + QStringLiteral("/bash-starts");
    m_processes = tmp + QStringLiteral("/bash-processes");
    QVERIFY(QDir().mkpath(bin));
    QFile fake(bin + QStringLiteral("/bash"));
    QVERIFY(fake.open(QIODevice::WriteOnly));
    fake.write(QStringLiteral("#!/bin/sh\n"
                              "echo $$ >> '%1.pids'\n"
                              "set -- \"$@\" $(cat /proc/$$/stat)\n"
                              "echo \"$$ $6 $8\" >> '%2'\n"
                              "printf '%s\\n' \"$(printf '%s\\037' \"$1\" \"$2\")\" >> '%1'\n"
                              "exec $2\n")
                   .arg(m_record, m_processes)
                   .toUtf8());
    fake.close();
    QVERIFY(fake.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    qputenv("PATH", bin.toUtf8() + ':' + qgetenv("PATH"));

    // A script wherever an unsafe name would lead, so that only the name check
    // stands between such a name and a start.
    m_trapName = QStringLiteral("../..") + tmp + QStringLiteral("/trap");
    for (const QString &package :
         {QStringLiteral("good"), QStringLiteral("a b"), QStringLiteral("x;touch /tmp/owned"), m_trapName})
        QVERIFY2(writeScript(scriptOf(package)), qPrintable(package));
    QVERIFY(QFileInfo::exists(scriptOf(QStringLiteral("good/../good"))));
    // A directory where the script should be is no script.
    QVERIFY(QDir().mkpath(scriptOf(QStringLiteral("hollow"))));
    // A file where the package's directory should be holds no script.
    QVERIFY(QFile(kApps + QStringLiteral("/flat")).open(QIODevice::WriteOnly));
    // A script that runs on long after the install.
    m_lastingEnded = tmp + QStringLiteral("/lasting-ended");
    QVERIFY(writeScript(scriptOf(QStringLiteral("lasting")),
                        "#!/bin/sh\nsleep 20\ntouch '" + QFile::encodeName(m_lastingEnded) + "'\n"));

    // Trees another user could change between the check and the start, or
    // that run something else than root's own script.
    const QString foreign = tmp + QStringLiteral("/foreign-run.sh");
    QVERIFY(writeScript(foreign) && setOwner(foreign, kNobody));
    QVERIFY(QDir().mkpath(kApps + QStringLiteral("/linked-script/files")));
    QVERIFY(QFile::link(foreign, scriptOf(QStringLiteral("linked-script"))));

    const QString open = tmp + QStringLiteral("/open-package");
    QVERIFY(writeScript(open + QStringLiteral("/files/run.sh")) && setMode(open, 0777));
    QVERIFY(QFile::link(open, kApps + QStringLiteral("/linked-package")));

    QVERIFY(writeScript(scriptOf(QStringLiteral("nobody-script"))));
    QVERIFY(setOwner(scriptOf(QStringLiteral("nobody-script")), kNobody));
    QVERIFY(setMode(kApps + QStringLiteral("/nobody-script/files"), 0777));

    QVERIFY(writeScript(scriptOf(QStringLiteral("group-writable"))));
    QVERIFY(setMode(kApps + QStringLiteral("/group-writable/files"), 0775));
    QVERIFY(writeScript(scriptOf(QStringLiteral("world-writable"))));
    QVERIFY(setMode(kApps + QStringLiteral("/world-writable"), 0757));
    QVERIFY(writeScript(scriptOf(QStringLiteral("foreign-package"))));
    QVERIFY(setOwner(kApps + QStringLiteral("/foreign-package"), kNobody));
    QVERIFY(writeScript(scriptOf(QStringLiteral("writable-script"))));
    QVERIFY(setMode(scriptOf(QStringLiteral("writable-script")), 0757));
    QVERIFY(writeScript(scriptOf(QStringLiteral("not-executable"))));
    QVERIFY(setMode(scriptOf(QStringLiteral("not-executable")), 0644));
    QVERIFY(QDir().mkpath(kApps + QStringLiteral("/fifo/files")));
    QCOMPARE(::mkfifo(QFile::encodeName(scriptOf(QStringLiteral("fifo"))).constData(), 0755), 0);

    g_previousHandler = qInstallMessageHandler(recordMessage);
    m_daemon = AppstoreDaemonInterface::instance();
    QVERIFY(m_daemon);
}

bool InstallProgressTest::invoke(const QString &id, const QString &package, int state, int total, int progress,
                                 const QString &statusMsg)
{
    return QMetaObject::invokeMethod(m_daemon, "slotInstallProgress", Q_ARG(QString, id), Q_ARG(QString, package),
                                     Q_ARG(int, state), Q_ARG(int, total), Q_ARG(int, progress),
                                     Q_ARG(QString, statusMsg));
}

// Process id, parent and session of each start, in order.
QList<QList<qint64>> InstallProgressTest::startedProcesses() const
{
    QList<QList<qint64>> processes;
    QFile file(m_processes);
    if (!file.open(QIODevice::ReadOnly))
        return processes;
    for (const QByteArray &line : file.readAll().split('\n')) {
        QList<qint64> ids;
        for (const QByteArray &id : line.split(' '))
            ids << id.toLongLong();
        if (ids.size() == 3)
            processes << ids;
    }
    return processes;
}

QList<QStringList> InstallProgressTest::startedBash() const
{
    QList<QStringList> starts;
    QFile file(m_record);
    if (!file.open(QIODevice::ReadOnly))
        return starts;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.isEmpty())
            continue;
        QStringList args = QString::fromUtf8(line).split(QChar(0x1f));
        args.removeLast(); // after the last separator
        starts << args;
    }
    return starts;
}

void InstallProgressTest::installProgress_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("package");
    QTest::addColumn<int>("state");
    QTest::addColumn<int>("total");
    QTest::addColumn<int>("progress");
    QTest::addColumn<QString>("statusMsg");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<QString>("script"); // started with it, or nothing started

    const QString good = QStringLiteral("good");
    const QStringList started{debugLine(good, 1)};
    QTest::newRow("complete, both modes 1")
        << kAppId << good << 1 << 100 << 100 << briefInfo(good) << started << scriptOf(good);
    QTest::newRow("nothing to count") << kAppId << good << 1 << 0 << 0 << briefInfo(good) << started << scriptOf(good);
    QTest::newRow("path from the slot's name")
        << kAppId << good << 1 << 100 << 100 << briefInfo(QStringLiteral("other")) << started << scriptOf(good);

    QTest::newRow("progress 99 of 100") << kAppId << good << 1 << 100 << 99 << briefInfo(good) << QStringList() << "";
    QTest::newRow("state 0") << kAppId << good << 0 << 100 << 100 << briefInfo(good) << QStringList() << "";
    QTest::newRow("state 2") << kAppId << good << 2 << 100 << 100 << briefInfo(good) << QStringList() << "";
    QTest::newRow("other caller") << "orvane-app-store-beta" << good << 1 << 100 << 100 << briefInfo(good)
                                  << QStringList() << "";
    QTest::newRow("caller in capitals") << "ORVANE-APP-STORE" << good << 1 << 100 << 100 << briefInfo(good)
                                        << QStringList() << "";

    const QStringList modeUnknown{debugLine(good, -1)};
    QTest::newRow("empty status text") << kAppId << good << 1 << 100 << 100 << "" << modeUnknown << "";
    QTest::newRow("install mode 0") << kAppId << good << 1 << 100 << 100 << briefInfo(good, 1, 0) << modeUnknown << "";
    QTest::newRow("package mode 0") << kAppId << good << 1 << 100 << 100 << briefInfo(good, 0, 1) << modeUnknown << "";
    QTest::newRow("no brief info") << kAppId << good << 1 << 100 << 100 << R"({"progress": 100})" << modeUnknown << "";
    QTest::newRow("status text an array")
        << kAppId << good << 1 << 100 << 100 << "[1]"
        << QStringList{QStringLiteral(R"(W parse AppBriefInfo failed: "no error occurred" "[1]")"), debugLine(good, -1)}
        << "";

    const QString absent = QStringLiteral("absent");
    QTest::newRow("no script") << kAppId << absent << 1 << 100 << 100 << briefInfo(absent)
                               << QStringList{debugLine(absent, 1),
                                              QStringLiteral(
                                                  R"(W "Package absent run.sh not found, skip creating bottle")")}
                               << "";

    const QString flat = QStringLiteral("flat");
    QTest::newRow("file instead of the package directory")
        << kAppId << flat << 1 << 100 << 100 << briefInfo(flat)
        << QStringList{debugLine(flat, 1), QStringLiteral(R"(W "Package flat run.sh not found, skip creating bottle")")}
        << "";
    // The install is answered while the script runs on.
    const QString lasting = QStringLiteral("lasting");
    QTest::newRow("script that runs on") << kAppId << lasting << 1 << 100 << 100 << briefInfo(lasting)
                                         << QStringList{debugLine(lasting, 1)} << scriptOf(lasting);

    const QString hollow = QStringLiteral("hollow");
    QTest::newRow("directory instead of a script")
        << kAppId << hollow << 1 << 100 << 100 << briefInfo(hollow)
        << QStringList{debugLine(hollow, 1),
                       QStringLiteral(R"(W "Package hollow run.sh not found, skip creating bottle")")}
        << "";

    const auto refused = [](const QString &package, const QString &fault) {
        return QStringList{debugLine(package, 1), refusal(package, fault)};
    };
    const auto row = [](const char *name, const QString &package, const QStringList &messages) {
        QTest::newRow(name) << kAppId << package << 1 << 100 << 100 << briefInfo(package) << messages << "";
    };
    row("script a link to another user's file", QStringLiteral("linked-script"),
        refused(QStringLiteral("linked-script"), scriptOf(QStringLiteral("linked-script")) + " is a symbolic link"));
    row("package a link to a directory anyone may write", QStringLiteral("linked-package"),
        refused(QStringLiteral("linked-package"), "/opt/apps/linked-package is a symbolic link"));
    row("script of nobody in a directory anyone may write", QStringLiteral("nobody-script"),
        refused(QStringLiteral("nobody-script"), "/opt/apps/nobody-script/files is writable by others"));
    row("group may write a directory", QStringLiteral("group-writable"),
        refused(QStringLiteral("group-writable"), "/opt/apps/group-writable/files is writable by others"));
    row("anyone may write the package directory", QStringLiteral("world-writable"),
        refused(QStringLiteral("world-writable"), "/opt/apps/world-writable is writable by others"));
    row("package directory of another user", QStringLiteral("foreign-package"),
        refused(QStringLiteral("foreign-package"), "/opt/apps/foreign-package is not owned by root"));
    row("anyone may write the script", QStringLiteral("writable-script"),
        refused(QStringLiteral("writable-script"),
                scriptOf(QStringLiteral("writable-script")) + " is writable by others"));
    row("script not executable", QStringLiteral("not-executable"),
        refused(QStringLiteral("not-executable"), scriptOf(QStringLiteral("not-executable")) + " is not executable"));
    row("script a FIFO", QStringLiteral("fifo"),
        refused(QStringLiteral("fifo"), scriptOf(QStringLiteral("fifo")) + " is not a regular file"));

    // Peer text in a log line is cut at one bound.
    const QString longName(16384, QLatin1Char('a'));
    QTest::newRow("long package name cut in the log")
        << kAppId << longName << 1 << 100 << 100 << briefInfo(longName)
        << QStringList{debugLine(cutForLog(longName), 1),
                       QStringLiteral(R"(W Package name refused, skip creating bottle: "%1")").arg(cutForLog(longName))}
        << "";

    for (const QString &unsafe : {QStringLiteral("../../tmp/x"), QStringLiteral("a b"), QStringLiteral("x%1"),
                                  QStringLiteral("x;touch /tmp/owned"), QStringLiteral("good/../good"), m_trapName}) {
        QTest::newRow(qPrintable(QStringLiteral("refused: ") + unsafe))
            << kAppId << unsafe << 1 << 100 << 100 << briefInfo(unsafe)
            << QStringList{debugLine(unsafe, 1),
                           QStringLiteral(R"(W Package name refused, skip creating bottle: "%1")").arg(unsafe)}
            << "";
    }
}

void InstallProgressTest::installProgress()
{
    QFETCH(QString, id);
    QFETCH(QString, package);
    QFETCH(int, state);
    QFETCH(int, total);
    QFETCH(int, progress);
    QFETCH(QString, statusMsg);
    QFETCH(QStringList, messages);
    QFETCH(QString, script);

    g_messages.clear();
    QVERIFY(invoke(id, package, state, total, progress, statusMsg));
    QCOMPARE(g_messages, messages);

    if (script.isEmpty()) {
        // Proof of absence: a good install started after this one has been
        // recorded, and it is the only new start.
        QVERIFY(invoke(kAppId, QStringLiteral("good"), 1, 1, 1, briefInfo(QStringLiteral("good"))));
        script = scriptOf(QStringLiteral("good"));
    }
    m_expectedStarts << QStringList{QStringLiteral("-c"), script + QStringLiteral(" -c")};
    QTRY_COMPARE_WITH_TIMEOUT(startedBash().size(), m_expectedStarts.size(), kWaitMs);
    QCOMPARE(startedBash(), m_expectedStarts);

    // Detached: the script is no child of the daemon and runs in a session of
    // its own, and nothing of its start is left for the daemon to reap.
    QTRY_COMPARE_WITH_TIMEOUT(startedProcesses().size(), m_expectedStarts.size(), kWaitMs);
    const QList<qint64> started = startedProcesses().constLast();
    QVERIFY(started.at(1) != ::getpid());
    QVERIFY(started.at(2) != ::getsid(0));
    QCOMPARE(::waitpid(-1, nullptr, WNOHANG), pid_t(-1));
    QCOMPARE(errno, ECHILD);
    if (package == QLatin1String("lasting")) {
        // Not ended when the install was answered; its session is ended here.
        QVERIFY(!QFileInfo::exists(m_lastingEnded));
        QCOMPARE(::kill(-pid_t(started.at(2)), SIGTERM), 0);
    }
}

void InstallProgressTest::appsDirectoryWritable()
{
    // Not even root's own script runs from an apps directory anyone may write.
    const QString good = QStringLiteral("good");
    QVERIFY(setMode(kApps, 0777));
    g_messages.clear();
    QVERIFY(invoke(kAppId, good, 1, 1, 1, briefInfo(good)));
    QVERIFY(setMode(kApps, 0755));
    QCOMPARE(g_messages, (QStringList{debugLine(good, 1), refusal(good, kApps + " is writable by others")}));

    // Proof of absence, as above.
    QVERIFY(invoke(kAppId, good, 1, 1, 1, briefInfo(good)));
    m_expectedStarts << QStringList{QStringLiteral("-c"), scriptOf(good) + QStringLiteral(" -c")};
    QTRY_COMPARE_WITH_TIMEOUT(startedBash().size(), m_expectedStarts.size(), kWaitMs);
    QCOMPARE(startedBash(), m_expectedStarts);
}

void InstallProgressTest::appScopeName_data()
{
    QTest::addColumn<QString>("package");
    QTest::addColumn<int>("pid");
    QTest::addColumn<QString>("name");

    const QString head = QStringLiteral("app-orvane\\x2dappstore-");
    QTest::newRow("plain") << "good" << 4242 << head + "good-4242.scope";
    QTest::newRow("dots and underscores stay") << "com.example_app" << 7 << head + "com.example_app-7.scope";
    QTest::newRow("dash and plus escaped") << "a-b+c" << 7 << head + "a\\x2db\\x2bc-7.scope";
    // 255 characters at most, and never half an escape.
    const QString longest(255, QLatin1Char('a'));
    QTest::newRow("cut to fit") << longest << 1234567 << head + longest.left(255 - head.size() - 14) + "-1234567.scope";
    // 221 letters leave 3 characters of room: too few for "\x2d".
    QTest::newRow("cut before an escape") << QString(221, QLatin1Char('a')) + QStringLiteral("-b") << 1
                                          << head + QString(221, QLatin1Char('a')) + "-1.scope";
}

void InstallProgressTest::appScopeName()
{
    QFETCH(QString, package);
    QFETCH(int, pid);
    QFETCH(QString, name);

    QCOMPARE(::appScopeName(package, pid), name);
    QVERIFY(name.size() <= 255);
}

// With a user manager on the session bus, the script is started in a scope of
// its own, named after the package, with bash's process in it.
void InstallProgressTest::scopeOfItsOwn()
{
    UserManagerOnBus manager(QStringLiteral("fake-user-manager"));
    QVERIFY(manager.isRegistered());
    const FakeUserManager &fake = manager.fake;

    const QString good = QStringLiteral("good");
    QVERIFY(invoke(kAppId, good, 1, 1, 1, briefInfo(good)));
    m_expectedStarts << QStringList{QStringLiteral("-c"), scriptOf(good) + QStringLiteral(" -c")};
    // Not moved by the fake: bash goes on after the bounded wait.
    QTRY_COMPARE_WITH_TIMEOUT(startedBash().size(), m_expectedStarts.size(), 10000);
    QCOMPARE(startedBash(), m_expectedStarts);
    QCOMPARE(fake.calls.size(), 1);

    QFile pids(m_record + QStringLiteral(".pids"));
    QVERIFY(pids.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = pids.readAll().trimmed().split('\n');
    const uint pid = lines.constLast().toUInt();
    QVERIFY(pid > 0);

    const QList<QVariant> args = fake.calls.constFirst().arguments();
    QCOMPARE(args.size(), 4);
    QCOMPARE(fake.calls.constFirst().signature(), QStringLiteral("ssa(sv)a(sa(sv))"));
    QCOMPARE(args.at(0).toString(), QStringLiteral("app-orvane\\x2dappstore-good-%1.scope").arg(pid));
    QCOMPARE(args.at(1).toString(), QStringLiteral("fail"));
    const QVariantMap properties = transientUnitProperties(fake.calls.constFirst());
    QCOMPARE(properties.value(QStringLiteral("Description")).toString(), QStringLiteral("Bottle creation of good"));
    QCOMPARE(transientUnitPids(properties), QList<uint>{pid});
}

// A termination signal that reaches the started process while it waits to be
// moved into its scope (a stop of the daemon's unit sends one to all of it)
// ends that process before the script runs. The handler it inherited from the
// program would pass the signal on to the program's loop instead, ending the
// program, and the script would start all the same.
void InstallProgressTest::signalWhileWaitingForItsScope()
{
    QCOMPARE(::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK), 0);
    struct sigaction handler = {};
    struct sigaction previous = {};
    handler.sa_handler = passSignalOn;
    sigemptyset(&handler.sa_mask);
    QCOMPARE(::sigaction(SIGTERM, &handler, &previous), 0);
    const auto restore = qScopeGuard([&] {
        ::sigaction(SIGTERM, &previous, nullptr);
        ::close(g_signalPipe[0]);
        ::close(g_signalPipe[1]);
    });

    UserManagerOnBus manager(QStringLiteral("fake-user-manager-2"));
    QVERIFY(manager.isRegistered());
    const FakeUserManager &fake = manager.fake;

    const int starts = startedBash().size();
    const QString good = QStringLiteral("good");
    QVERIFY(invoke(kAppId, good, 1, 1, 1, briefInfo(good)));
    // Not moved by the fake: the process waits (2 s at most) meanwhile.
    QTRY_COMPARE_WITH_TIMEOUT(fake.calls.size(), 1, kWaitMs);
    const QList<uint> pids = transientUnitPids(transientUnitProperties(fake.calls.constFirst()));
    QCOMPARE(pids.size(), 1);
    const pid_t pid = static_cast<pid_t>(pids.constFirst());
    QCOMPARE(::kill(pid, SIGTERM), 0);
    QTRY_VERIFY_WITH_TIMEOUT(!isRunning(pid), kWaitMs);

    unsigned char passed = 0;
    QCOMPARE(::read(g_signalPipe[0], &passed, 1), ssize_t(-1));
    QCOMPARE(startedBash().size(), starts);
}

QTEST_GUILESS_MAIN(InstallProgressTest)
#include "test_install_progress.moc"
