// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

// The toolkit's notification builder against a fake notification server: the
// eight Notify values arrive in their order and with their D-Bus types.
#include <nuvixcore/nnotifysender.h>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QProcess>
#include <QtTest>

namespace {
// How long a test waits for something it expects to happen: an assert of
// behaviour, not of speed, so generous enough for a sanitized build on a busy
// 2-core machine.
constexpr int kWaitMs = 30000;
const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
} // namespace

class NotifySenderTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void sendsEightValuesInOrder();
    void noServerIsNotFatal();

private:
    QList<QVariantList> notifyCalls();
    QProcess m_server;
};

void NotifySenderTest::initTestCase()
{
    QVERIFY(!QDBusConnection::sessionBus().interface()->isServiceRegistered(kService));
    m_server.setProcessChannelMode(QProcess::ForwardedChannels);
    m_server.start(QStringLiteral("/usr/bin/python3"),
                   {QStringLiteral("-m"), QStringLiteral("dbusmock"), QStringLiteral("--template"),
                    QStringLiteral("notification_daemon")});
    QVERIFY(m_server.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(QDBusConnection::sessionBus().interface()->isServiceRegistered(kService), kWaitMs);
}

void NotifySenderTest::cleanupTestCase()
{
    m_server.terminate();
    m_server.waitForFinished();
}

QList<QVariantList> NotifySenderTest::notifyCalls()
{
    QDBusMessage get = QDBusMessage::createMethodCall(kService, kPath, QStringLiteral("org.freedesktop.DBus.Mock"),
                                                      QStringLiteral("GetMethodCalls"));
    get << QStringLiteral("Notify");
    const QDBusMessage reply = QDBusConnection::sessionBus().call(get);
    QList<QVariantList> calls;
    if (reply.type() != QDBusMessage::ReplyMessage)
        return calls;
    // a(tav): timestamp, then the arguments as variants
    const QDBusArgument array = reply.arguments().first().value<QDBusArgument>();
    array.beginArray();
    while (!array.atEnd()) {
        qulonglong timestamp = 0;
        QVariantList args;
        array.beginStructure();
        array >> timestamp;
        array.beginArray();
        while (!array.atEnd()) {
            QDBusVariant value;
            array >> value;
            args << value.variant();
        }
        array.endArray();
        array.endStructure();
        calls << args;
    }
    array.endArray();
    return calls;
}

void NotifySenderTest::sendsEightValuesInOrder()
{
    const QVariantMap hints{{QStringLiteral("x-test-hint"), QStringLiteral("value")}};
    QDBusPendingCall pending = Nuvix::Core::NUtil::NNotifySender(QStringLiteral("Summary"))
                                   .appName(QStringLiteral("orvane-app-store"))
                                   .replaceId(7)
                                   .appIcon(QStringLiteral("icon-name"))
                                   .appBody(QStringLiteral("Body"))
                                   .actions({QStringLiteral("key"), QStringLiteral("Label")})
                                   .hints(hints)
                                   .timeOut(3000)
                                   .call();
    QDBusPendingCallWatcher watcher(pending);
    QSignalSpy finished(&watcher, &QDBusPendingCallWatcher::finished);
    QVERIFY(finished.wait(kWaitMs));
    QVERIFY2(!pending.isError(), qPrintable(pending.error().message()));

    const QList<QVariantList> calls = notifyCalls();
    QCOMPARE(calls.size(), 1);
    const QVariantList args = calls.first();
    QCOMPARE(args.size(), 8);
    QCOMPARE(args.at(0).toString(), QStringLiteral("orvane-app-store"));
    QCOMPARE(args.at(1).userType(), int(QMetaType::UInt));
    QCOMPARE(args.at(1).toUInt(), 7u);
    QCOMPARE(args.at(2).toString(), QStringLiteral("icon-name"));
    QCOMPARE(args.at(3).toString(), QStringLiteral("Summary"));
    QCOMPARE(args.at(4).toString(), QStringLiteral("Body"));
    QCOMPARE(args.at(5).toStringList(), QStringList({QStringLiteral("key"), QStringLiteral("Label")}));
    const QDBusArgument hintArgument = args.at(6).value<QDBusArgument>();
    QVariantMap received;
    hintArgument >> received;
    QCOMPARE(received.keys(), QStringList{QStringLiteral("x-test-hint")});
    QCOMPARE(received.value(QStringLiteral("x-test-hint")).toString(), QStringLiteral("value"));
    QCOMPARE(args.at(7).userType(), int(QMetaType::Int));
    QCOMPARE(args.at(7).toInt(), 3000);
}

void NotifySenderTest::noServerIsNotFatal()
{
    m_server.terminate();
    QVERIFY(m_server.waitForFinished());
    QTRY_VERIFY_WITH_TIMEOUT(!QDBusConnection::sessionBus().interface()->isServiceRegistered(kService), kWaitMs);
    QDBusPendingCall pending = Nuvix::Core::NUtil::NNotifySender(QStringLiteral("Nobody listens")).call();
    QDBusPendingCallWatcher watcher(pending);
    QSignalSpy finished(&watcher, &QDBusPendingCallWatcher::finished);
    QVERIFY(finished.wait(kWaitMs));
    QVERIFY(pending.isError());
}

QTEST_GUILESS_MAIN(NotifySenderTest)
#include "test_notify_sender.moc"
