// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

// The GSettings registry against real GSettings (keyfile backend, compiled
// schemas). Calls that GLib would answer by aborting run in a child process:
// the binary re-runs itself with "--child CASE".
#include "gsettings/gsettings_watcher.h"
#include "gsettings/settings_schema.h"
#include "logging/log_category.h"

#include <QGSettings>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QPointer>
#include <QProcess>
#include <QSignalSpy>
#include <QThread>
#include <QtTest>

#include <cstdio>
#include <functional>
#include <map>
#include <utility>

namespace {

const QByteArray kAppStoreId(kGSettingsAppStoreSchemaId);
const QByteArray kAppStorePath(kGSettingsAppStorePath);
const QByteArray kRelocatableId("com.orvane.test.relocatable");
const QByteArray kAbsentId("com.orvane.test.absent");

bool isLogMain(const QMessageLogContext &context)
{
    return context.category && qstrcmp(context.category, logMain().categoryName()) == 0;
}

// Records the warnings of the daemon's category while it is alive.
class WarningRecorder
{
public:
    WarningRecorder()
    {
        s_warnings.clear();
        s_functions.clear();
        s_previous = qInstallMessageHandler(handle);
    }
    ~WarningRecorder() { qInstallMessageHandler(s_previous); }

    QStringList warnings() const { return s_warnings; }
    // The function signature each warning carries, in the same order.
    QStringList functions() const { return s_functions; }

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        if (type == QtWarningMsg && isLogMain(context)) {
            s_warnings << message;
            s_functions << QString::fromUtf8(context.function);
        }
        if (s_previous)
            s_previous(type, context, message);
    }

    static QStringList s_warnings;
    static QStringList s_functions;
    static QtMessageHandler s_previous;
};
QStringList WarningRecorder::s_warnings;
QStringList WarningRecorder::s_functions;
QtMessageHandler WarningRecorder::s_previous = nullptr;

QString describe(const QVariant &value)
{
    if (!value.isValid())
        return QStringLiteral("invalid");
    if (value.userType() == QMetaType::QStringList)
        return QStringLiteral("QStringList [%1]").arg(value.toStringList().join(QLatin1Char(',')));
    return QStringLiteral("%1 %2").arg(QString::fromLatin1(value.typeName()), value.toString());
}

int countSettingsObjects(const GSettingsWatcher &watcher)
{
    return watcher.findChildren<QGSettings *>().size();
}

// ---- child side -----------------------------------------------------------

void say(const QString &line)
{
    std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

int g_childWarnings = 0;

void childMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtWarningMsg && isLogMain(context)) {
        ++g_childWarnings;
        say(QStringLiteral("warning: ") + message);
    } else
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

void addAndCount(GSettingsWatcher &watcher, const QByteArray &schemaId, const QByteArray &path)
{
    const bool added = watcher.addSchema(schemaId, path);
    say(QStringLiteral("addSchema %1").arg(added ? "true" : "false"));
    say(QStringLiteral("objects %1").arg(countSettingsObjects(watcher)));
}

using ChildCase = std::function<void(GSettingsWatcher &)>;

const std::map<QString, ChildCase> &childCases()
{
    static const std::map<QString, ChildCase> cases = {
        {QStringLiteral("missing schema"),
         [](GSettingsWatcher &w) {
             addAndCount(w, kAbsentId, "/com/orvane/test/absent/");
             say("getValueSync " + describe(w.getValueSync(kAbsentId, "/com/orvane/test/absent/", "names")));
         }},
        {QStringLiteral("fixed schema, other path"),
         [](GSettingsWatcher &w) { addAndCount(w, kAppStoreId, "/com/orvane/kesh/other/"); }},
        {QStringLiteral("fixed schema, no slash at the end"),
         [](GSettingsWatcher &w) { addAndCount(w, kAppStoreId, "/com/orvane/kesh/app-store"); }},
        {QStringLiteral("fixed schema, empty path"),
         [](GSettingsWatcher &w) {
             addAndCount(w, kAppStoreId, "");
             say("getValueSync " + describe(w.getValueSync(kAppStoreId, "", "updateAppsNotNotify")));
         }},
        {QStringLiteral("relocatable schema, empty path"),
         [](GSettingsWatcher &w) { addAndCount(w, kRelocatableId, ""); }},
        {QStringLiteral("relocatable schema, relative path"),
         [](GSettingsWatcher &w) { addAndCount(w, kRelocatableId, "com/orvane/test/"); }},
        {QStringLiteral("relocatable schema, no slash at the end"),
         [](GSettingsWatcher &w) { addAndCount(w, kRelocatableId, "/com/orvane/test"); }},
        {QStringLiteral("relocatable schema, double slash"),
         [](GSettingsWatcher &w) { addAndCount(w, kRelocatableId, "/com/orvane//test/"); }},
        {QStringLiteral("relocatable schema, good path"),
         [](GSettingsWatcher &w) {
             addAndCount(w, kRelocatableId, "/com/orvane/test/");
             say("getValueSync " + describe(w.getValueSync(kRelocatableId, "/com/orvane/test/", "names")));
         }},
        {QStringLiteral("missing key, getValueSync"),
         [](GSettingsWatcher &w) {
             say("getValueSync " + describe(w.getValueSync(kAppStoreId, kAppStorePath, "noSuchKey")));
         }},
        {QStringLiteral("missing key, getValueAsync"),
         [](GSettingsWatcher &w) {
             QSignalSpy spy(&w, &GSettingsWatcher::sigValueChanged);
             w.getValueAsync(kAppStoreId, kAppStorePath, "noSuchKey");
             say(QStringLiteral("emitted %1").arg(spy.count()));
         }},
        {QStringLiteral("missing key, setValue"),
         [](GSettingsWatcher &w) {
             w.setValue(kAppStoreId, kAppStorePath, "noSuchKey", true);
             say(QStringLiteral("setValue returned"));
         }},
        {QStringLiteral("key with a digit after a dash"),
         [](GSettingsWatcher &w) {
             w.addSchema(kRelocatableId, "/com/orvane/test/");
             say("getValueSync " + describe(w.getValueSync(kRelocatableId, "/com/orvane/test/", "level2")));
             say("getValueSync " + describe(w.getValueSync(kRelocatableId, "/com/orvane/test/", "level-2")));
         }},
        {QStringLiteral("change of a key with a digit after a dash"),
         [](GSettingsWatcher &w) {
             w.addSchema(kRelocatableId, "/com/orvane/test/");
             QSignalSpy spy(&w, &GSettingsWatcher::sigValueChanged);
             // gsettings-qt reports the change as "level2", a key GLib does not know.
             QProcess::execute(QStringLiteral("gsettings"),
                               {QStringLiteral("set"), QStringLiteral("com.orvane.test.relocatable:/com/orvane/test/"),
                                QStringLiteral("level-2"), QStringLiteral("9")});
             QDeadlineTimer deadline(10000);
             while (g_childWarnings == 0 && !deadline.hasExpired())
                 QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
             say(QStringLiteral("emitted %1").arg(spy.count()));
         }},
    };
    return cases;
}

int runChildCase(const QString &name)
{
    const auto it = childCases().find(name);
    if (it == childCases().end()) {
        std::fprintf(stderr, "unknown child case %s\n", qPrintable(name));
        return 2;
    }
    qInstallMessageHandler(childMessageHandler);
    GSettingsWatcher watcher;
    it->second(watcher);
    return 0;
}

// ---- test side ------------------------------------------------------------

QList<QVariant> valuesOf(const QSignalSpy &spy, const QString &key)
{
    QList<QVariant> values;
    for (const QList<QVariant> &arguments : spy) {
        if (arguments.at(2).toString() == key)
            values << arguments.at(3);
    }
    return values;
}

} // namespace

class GSettingsWatcherTest : public QObject
{
    Q_OBJECT

private:
    // Change notifications are queued in GLib's main context and delivered in
    // order: once a later change of another key has come through, no earlier
    // notification is still on its way.
    bool drain(QGSettings &writer, QSignalSpy &spy, const QString &key = QStringLiteral("flag"))
    {
        const int before = valuesOf(spy, key).size();
        writer.set(key, !writer.get(key).toBool());
        return QTest::qWaitFor([&] { return valuesOf(spy, key).size() > before; }, 10000);
    }

private Q_SLOTS:
    void pathRules_data();
    void pathRules();
    void keyNames_data();
    void keyNames();
    void crashCasesSurviveInChild_data();
    void crashCasesSurviveInChild();
    void samePairAddedTwice();
    void twoPathsOfOneSchema_data();
    void twoPathsOfOneSchema();
    void readsAndWritesDontRegister();
    void getValueAsync_data();
    void getValueAsync();
    void lateChangeAfterRemoveSchema();
    void valueIsReadAtDelivery();
    void changeFromAnotherProcess();
};

void GSettingsWatcherTest::pathRules_data()
{
    QTest::addColumn<QByteArray>("schemaPath");
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<bool>("allowed");

    QTest::newRow("fixed, own path") << QByteArray("/a/b/") << QByteArray("/a/b/") << true;
    QTest::newRow("fixed, empty path") << QByteArray("/a/b/") << QByteArray() << true;
    QTest::newRow("fixed, other path") << QByteArray("/a/b/") << QByteArray("/a/c/") << false;
    QTest::newRow("fixed, below own path") << QByteArray("/a/b/") << QByteArray("/a/b/c/") << false;
    QTest::newRow("fixed, no slash at the end") << QByteArray("/a/b/") << QByteArray("/a/b") << false;
    QTest::newRow("relocatable, good path") << QByteArray() << QByteArray("/a/b/") << true;
    QTest::newRow("relocatable, root") << QByteArray() << QByteArray("/") << true;
    QTest::newRow("relocatable, empty path") << QByteArray() << QByteArray("") << false;
    QTest::newRow("relocatable, relative") << QByteArray() << QByteArray("a/b/") << false;
    QTest::newRow("relocatable, no slash at the end") << QByteArray() << QByteArray("/a/b") << false;
    QTest::newRow("relocatable, double slash") << QByteArray() << QByteArray("/a//b/") << false;
    QTest::newRow("relocatable, two slashes only") << QByteArray() << QByteArray("//") << false;
}

void GSettingsWatcherTest::pathRules()
{
    QFETCH(QByteArray, schemaPath);
    QFETCH(QByteArray, path);
    QFETCH(bool, allowed);
    QCOMPARE(GSettingsWatcher::isPathAllowed(schemaPath, path), allowed);
}

void GSettingsWatcherTest::keyNames_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QByteArray>("name");

    QTest::newRow("camel case") << QStringLiteral("appsIgnoreUpdates") << QByteArray("apps-ignore-updates");
    QTest::newRow("dashed form passes") << QStringLiteral("apps-ignore-updates") << QByteArray("apps-ignore-updates");
    QTest::newRow("digit after a dash is lost") << QStringLiteral("level2") << QByteArray("level2");
}

void GSettingsWatcherTest::keyNames()
{
    QFETCH(QString, key);
    QFETCH(QByteArray, name);
    QCOMPARE(SettingsSchema::keyName(key), name);
}

void GSettingsWatcherTest::crashCasesSurviveInChild_data()
{
    QTest::addColumn<QStringList>("expected");

    const QString appStore = QStringLiteral("\"com.orvane.kesh.app-store\" ");
    const QString relocatable = QStringLiteral("\"com.orvane.test.relocatable\" ");
    const QString refused = QStringLiteral("addSchema false");

    QTest::newRow("missing schema") << QStringList{
        "warning: \"com.orvane.test.absent\" not installed", refused, "objects 1",
        "warning: \"com.orvane.test.absent\" \"/com/orvane/test/absent/\" find QGSettings failed",
        "getValueSync invalid"};
    QTest::newRow("fixed schema, other path")
        << QStringList{"warning: " + appStore + "\"/com/orvane/kesh/other/\" path not allowed", refused, "objects 1"};
    QTest::newRow("fixed schema, no slash at the end") << QStringList{
        "warning: " + appStore + "\"/com/orvane/kesh/app-store\" path not allowed", refused, "objects 1"};
    QTest::newRow("fixed schema, empty path") << QStringList{"addSchema true", "objects 2", "getValueSync bool false"};
    QTest::newRow("relocatable schema, empty path")
        << QStringList{"warning: " + relocatable + "\"\" path not allowed", refused, "objects 1"};
    QTest::newRow("relocatable schema, relative path")
        << QStringList{"warning: " + relocatable + "\"com/orvane/test/\" path not allowed", refused, "objects 1"};
    QTest::newRow("relocatable schema, no slash at the end")
        << QStringList{"warning: " + relocatable + "\"/com/orvane/test\" path not allowed", refused, "objects 1"};
    QTest::newRow("relocatable schema, double slash")
        << QStringList{"warning: " + relocatable + "\"/com/orvane//test/\" path not allowed", refused, "objects 1"};
    QTest::newRow("relocatable schema, good path")
        << QStringList{"addSchema true", "objects 2", "getValueSync QStringList []"};

    const QString missingKey = "warning: " + appStore + "\"/com/orvane/kesh/app-store/\" find key failed \"noSuchKey\"";
    QTest::newRow("missing key, getValueSync") << QStringList{missingKey, "getValueSync invalid"};
    QTest::newRow("missing key, getValueAsync") << QStringList{missingKey, "emitted 0"};
    QTest::newRow("missing key, setValue") << QStringList{missingKey, "setValue returned"};
    QTest::newRow("key with a digit after a dash")
        << QStringList{"warning: " + relocatable + "\"/com/orvane/test/\" find key failed \"level2\"",
                       "getValueSync invalid", "getValueSync int 7"};
    QTest::newRow("change of a key with a digit after a dash")
        << QStringList{"warning: " + relocatable + "\"/com/orvane/test/\" find key failed \"level2\"", "emitted 0"};
}

void GSettingsWatcherTest::crashCasesSurviveInChild()
{
    QFETCH(QStringList, expected);

    QProcess child;
    child.setProgram(QCoreApplication::applicationFilePath());
    child.setArguments({QStringLiteral("--child"), QString::fromLatin1(QTest::currentDataTag())});
    child.start();
    QVERIFY2(child.waitForFinished(30000), "child did not finish");
    const QByteArray errors = child.readAllStandardError();
    QVERIFY2(
        child.exitStatus() == QProcess::NormalExit,
        qPrintable(
            QStringLiteral("child crashed (signal %1): %2").arg(child.exitCode()).arg(QString::fromLocal8Bit(errors))));
    QVERIFY2(child.exitCode() == 0, errors.constData());
    QCOMPARE(QString::fromUtf8(child.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts), expected);
}

void GSettingsWatcherTest::samePairAddedTwice()
{
    WarningRecorder recorder;
    GSettingsWatcher watcher;
    QSignalSpy spy(&watcher, &GSettingsWatcher::sigValueChanged);

    // The constructor has added the app store's pair already.
    QVERIFY(watcher.addSchema(kAppStoreId, kAppStorePath));
    QVERIFY(watcher.addSchema(kAppStoreId, kAppStorePath));
    QCOMPARE(countSettingsObjects(watcher), 1);

    QGSettings writer(kAppStoreId, kAppStorePath);
    writer.set(QStringLiteral("appsIgnoreUpdates"), QStringList{QStringLiteral("twice")});
    QVERIFY(drain(writer, spy, QStringLiteral("updateAppsNotNotify")));

    QCOMPARE(valuesOf(spy, QStringLiteral("appsIgnoreUpdates")), QList<QVariant>{QStringList{QStringLiteral("twice")}});
    QCOMPARE(recorder.warnings(), QStringList());
}

void GSettingsWatcherTest::twoPathsOfOneSchema_data()
{
    QTest::addColumn<QByteArray>("changedPath");
    QTest::newRow("first path") << QByteArray("/com/orvane/test/first/");
    QTest::newRow("second path") << QByteArray("/com/orvane/test/second/");
}

void GSettingsWatcherTest::twoPathsOfOneSchema()
{
    QFETCH(QByteArray, changedPath);
    const QStringList names{QString::fromLatin1(QTest::currentDataTag())};

    GSettingsWatcher watcher;
    QVERIFY(watcher.addSchema(kRelocatableId, "/com/orvane/test/first/"));
    QVERIFY(watcher.addSchema(kRelocatableId, "/com/orvane/test/second/"));
    QCOMPARE(countSettingsObjects(watcher), 3);
    QSignalSpy spy(&watcher, &GSettingsWatcher::sigValueChanged);

    QGSettings writer(kRelocatableId, changedPath);
    writer.set(QStringLiteral("names"), names);
    QVERIFY(drain(writer, spy));

    const QList<QVariant> expected{kRelocatableId, changedPath, QStringLiteral("names"), names};
    QList<QList<QVariant>> reported;
    for (const QList<QVariant> &arguments : std::as_const(spy)) {
        if (arguments.at(2) == QStringLiteral("names"))
            reported << arguments;
    }
    QCOMPARE(reported, QList<QList<QVariant>>{expected});
    QCOMPARE(watcher.getValueSync(kRelocatableId, changedPath, QStringLiteral("names")), QVariant(names));
}

void GSettingsWatcherTest::readsAndWritesDontRegister()
{
    const QByteArray never("/com/orvane/test/never/");
    WarningRecorder recorder;
    GSettingsWatcher watcher;
    QSignalSpy spy(&watcher, &GSettingsWatcher::sigValueChanged);

    QVERIFY(!watcher.getValueSync(kRelocatableId, never, QStringLiteral("names")).isValid());
    watcher.setValue(kRelocatableId, never, QStringLiteral("names"), QStringList{QStringLiteral("written")});
    watcher.getValueAsync(kRelocatableId, never, QStringLiteral("names"));
    QVERIFY(!watcher.getValueSync(kRelocatableId, never, QStringLiteral("names")).isValid());

    const QString notFound = QStringLiteral(
        "\"com.orvane.test.relocatable\" \"/com/orvane/test/never/\" find QGSettings failed");
    QCOMPARE(recorder.warnings(), (QStringList{notFound, notFound, notFound, notFound}));
    // Each warning names the operation that failed (getValueAsync reads through getValueSync).
    const QString read = QStringLiteral(
        "QVariant GSettingsWatcher::getValueSync(const QByteArray&, const QByteArray&, const QString&) const");
    const QString write = QStringLiteral(
        "void GSettingsWatcher::setValue(const QByteArray&, const QByteArray&, const QString&, const QVariant&)");
    QCOMPARE(recorder.functions(), (QStringList{read, write, read, read}));
    QCOMPARE(countSettingsObjects(watcher), 1);
    QCOMPARE(spy.count(), 0);
    QGSettings reader(kRelocatableId, never);
    QCOMPARE(reader.get(QStringLiteral("names")).toStringList(), QStringList());
}

void GSettingsWatcherTest::getValueAsync_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<bool>("emits");
    QTest::addColumn<QStringList>("warnings");

    QTest::newRow("registered pair") << QByteArray("/com/orvane/test/async/") << true << QStringList();
    QTest::newRow("pair not registered")
        << QByteArray("/com/orvane/test/elsewhere/") << false
        << QStringList{"\"com.orvane.test.relocatable\" \"/com/orvane/test/elsewhere/\" find QGSettings failed"};
}

void GSettingsWatcherTest::getValueAsync()
{
    QFETCH(QByteArray, path);
    QFETCH(bool, emits);
    QFETCH(QStringList, warnings);

    QGSettings writer(kRelocatableId, path);
    writer.set(QStringLiteral("names"), QStringList{QStringLiteral("async")});

    WarningRecorder recorder;
    GSettingsWatcher watcher;
    QVERIFY(watcher.addSchema(kRelocatableId, "/com/orvane/test/async/"));
    QSignalSpy spy(&watcher, &GSettingsWatcher::sigValueChanged);

    watcher.getValueAsync(kRelocatableId, path, QStringLiteral("names"));
    // Counted before any event is processed: the value is handed over inside the call.
    if (emits) {
        QCOMPARE(spy.count(), 1);
        QCOMPARE(
            spy.at(0),
            (QList<QVariant>{kRelocatableId, path, QStringLiteral("names"), QStringList{QStringLiteral("async")}}));
    } else {
        QCOMPARE(spy.count(), 0);
    }
    QCOMPARE(recorder.warnings(), warnings);
}

void GSettingsWatcherTest::lateChangeAfterRemoveSchema()
{
    const QByteArray late("/com/orvane/test/late/");
    WarningRecorder recorder;
    GSettingsWatcher watcher;
    QVERIFY(watcher.addSchema(kRelocatableId, late));
    QPointer<QGSettings> removed = watcher.findChildren<QGSettings *>().constLast();
    QSignalSpy spy(&watcher, &GSettingsWatcher::sigValueChanged);

    watcher.removeSchema(kRelocatableId, "/com/orvane/test/never-added/");
    watcher.removeSchema(kRelocatableId, late);
    QVERIFY(removed);

    QGSettings writer(kRelocatableId, late);
    writer.set(QStringLiteral("names"), QStringList{QStringLiteral("late")});
    // Not QTRY: its waits also run deferred deletions, which must wait here.
    QDeadlineTimer deadline(10000);
    while (recorder.warnings().isEmpty() && !deadline.hasExpired()) {
        QCoreApplication::processEvents();
        QThread::msleep(5);
    }
    QCOMPARE(recorder.warnings(), QStringList{QStringLiteral("find QGSettings failed")});
    QVERIFY(removed);
    QCOMPARE(spy.count(), 0);

    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(removed.isNull());
    QVERIFY(!watcher.getValueSync(kRelocatableId, late, QStringLiteral("names")).isValid());
}

void GSettingsWatcherTest::valueIsReadAtDelivery()
{
    const QByteArray path("/com/orvane/test/delivery/");
    GSettingsWatcher watcher;
    QVERIFY(watcher.addSchema(kRelocatableId, path));
    QSignalSpy spy(&watcher, &GSettingsWatcher::sigValueChanged);

    // Both writes are made before the first notification is delivered.
    QGSettings writer(kRelocatableId, path);
    writer.set(QStringLiteral("names"), QStringList{QStringLiteral("first")});
    writer.set(QStringLiteral("names"), QStringList{QStringLiteral("second")});
    QCOMPARE(spy.count(), 0);
    QVERIFY(drain(writer, spy));

    const QList<QVariant> values = valuesOf(spy, QStringLiteral("names"));
    QVERIFY(!values.isEmpty());
    for (const QVariant &value : values)
        QCOMPARE(value, QVariant(QStringList{QStringLiteral("second")}));
}

void GSettingsWatcherTest::changeFromAnotherProcess()
{
    GSettingsWatcher watcher;
    QSignalSpy spy(&watcher, &GSettingsWatcher::sigValueChanged);
    const auto gsettingsSet = [](const QString &key, const QString &value) {
        return QProcess::execute(QStringLiteral("gsettings"),
                                 {QStringLiteral("set"), QString::fromLatin1(kAppStoreId), key, value});
    };

    QCOMPARE(gsettingsSet(QStringLiteral("apps-ignore-updates"), QStringLiteral("['a']")), 0);
    QTRY_COMPARE_WITH_TIMEOUT(valuesOf(spy, QStringLiteral("appsIgnoreUpdates")).size(), 1, 10000);
    QCOMPARE(spy.at(0),
             (QList<QVariant>{kAppStoreId, kAppStorePath, QStringLiteral("appsIgnoreUpdates"),
                              QStringList{QStringLiteral("a")}}));

    // A later change of another key closes the window for a second report.
    const bool notNotify = watcher.getValueSync(kAppStoreId, kAppStorePath, QStringLiteral("updateAppsNotNotify"))
                               .toBool();
    QCOMPARE(gsettingsSet(QStringLiteral("update-apps-not-notify"), notNotify ? "false" : "true"), 0);
    QTRY_COMPARE_WITH_TIMEOUT(valuesOf(spy, QStringLiteral("updateAppsNotNotify")).size(), 1, 10000);
    QCOMPARE(valuesOf(spy, QStringLiteral("appsIgnoreUpdates")).size(), 1);
}

int main(int argc, char **argv)
{
    // GLib reads GSETTINGS_SCHEMA_DIR once, at the first use of GSettings.
    const QByteArray testSchemas(ORVANE_TEST_SCHEMA_DIR);
    const QByteArray schemaDirs = qgetenv("GSETTINGS_SCHEMA_DIR");
    if (!schemaDirs.startsWith(testSchemas + ':'))
        qputenv("GSETTINGS_SCHEMA_DIR", testSchemas + ':' + schemaDirs);

    QCoreApplication app(argc, argv);
    if (argc == 3 && qstrcmp(argv[1], "--child") == 0)
        return runChildCase(QString::fromLocal8Bit(argv[2]));

    GSettingsWatcherTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_gsettings_watcher.moc"
