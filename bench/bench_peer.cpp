// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

// The peers of the program under measurement, in one fast process: the system
// app-store daemon (owns its name, answers its calls, emits its signals), the
// notification server of the session bus, and a writer of the proxy settings.
// Driven by lines on stdin; answers and time stamps (CLOCK_MONOTONIC, ns) go
// to stdout, one line each:
//   emit shown|other|upgrade|mix N
//                                N signals in bursts of up to 100, each burst
//                                ended by one shown notice as a marker; once
//                                the marker's Notify came, the program has
//                                handled the burst -> "emitted N MARKERS"
//   pace shown|proxy N           one event at a time, each awaited at the sink
//                                -> "latency US..." (emission to Notify or SetSystemProxy)
//   arm                          the next SetSystemProxy is announced as "report NS"
// Unasked: "name NS" when the watched session name gets an owner.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QDate>
#include <QGSettings>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>
#include <QTimer>

#include <pwd.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

namespace {

qint64 nowNs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

void say(const QByteArray &line)
{
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

QString notice(const QString &logName)
{
    const QJsonObject object{{QStringLiteral("opt"), 1},
                             {QStringLiteral("appName"), QStringLiteral("Foo")},
                             {QStringLiteral("packageName"), QStringLiteral("foo")},
                             {QStringLiteral("logname"), logName}};
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

QStringList upgradeList()
{
    QStringList apps;
    for (int i = 0; i < 5; ++i) {
        const QJsonObject app{{QStringLiteral("package_name"), QStringLiteral("p%1").arg(i)},
                              {QStringLiteral("name"), QStringLiteral("App %1").arg(i)},
                              {QStringLiteral("supportWayland"), 1}};
        apps.append(QString::fromUtf8(QJsonDocument(app).toJson(QJsonDocument::Compact)));
    }
    return apps;
}

} // namespace

class Peer;

// com.home.appstore.daemon.interface at /appstore on the system bus.
class SystemDaemon : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.home.appstore.daemon.interface")
    Q_PROPERTY(bool LocalUpgradeCheckStatus READ localUpgradeCheckStatus)
public:
    explicit SystemDaemon(Peer *peer);
    bool localUpgradeCheckStatus() const { return false; }

public Q_SLOTS:
    void SetSystemProxy(const QString &logName, const QString &environment);
    // Today's date: every upgrade list meets a notice already shown today.
    QString GetConfigByNodeName(const QString &) { return QDate::currentDate().toString(QStringLiteral("yyyyMMdd")); }
    void SetConfigByNodeName(const QString &, const QString &) {}
    void reportMode(const QString &) {}
    void reportManualInfo(const QString &, const QString &, const QString &) {}

private:
    Peer *m_peer;
};

class NotificationServer : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    explicit NotificationServer(Peer *peer);

public Q_SLOTS:
    uint Notify(const QString &, uint, const QString &, const QString &, const QString &, const QStringList &,
                const QVariantMap &, int);

private:
    Peer *m_peer;
};

class Peer : public QObject
{
    Q_OBJECT
public:
    explicit Peer(const QString &watchedName)
        : m_system(QDBusConnection::systemBus())
        , m_session(QDBusConnection::sessionBus())
        , m_daemon(this)
        , m_server(this)
        , m_stdin(STDIN_FILENO, QSocketNotifier::Read)
    {
        const passwd *entry = ::getpwuid(::getuid());
        const QString me = entry ? QString::fromUtf8(entry->pw_name) : QString();
        m_shown = notice(me);
        m_other = notice(QStringLiteral("somebody-else"));
        m_upgrade = upgradeList();

        m_system.registerObject(QStringLiteral("/appstore"), &m_daemon,
                                QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties);
        m_session.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &m_server,
                                 QDBusConnection::ExportAllSlots);
        if (!m_system.registerService(QStringLiteral("com.home.appstore.daemon"))
            || !m_session.registerService(QStringLiteral("org.freedesktop.Notifications"))) {
            std::fprintf(stderr, "bench-peer: cannot own the peers' names\n");
            ::exit(1);
        }

        auto *watcher = new QDBusServiceWatcher(watchedName, m_session, QDBusServiceWatcher::WatchForRegistration,
                                                this);
        connect(watcher, &QDBusServiceWatcher::serviceRegistered, this,
                [](const QString &) { say("name " + QByteArray::number(nowNs())); });
        connect(&m_stdin, &QSocketNotifier::activated, this, &Peer::readCommands);
        m_paceTimeout.setSingleShot(true);
        m_paceTimeout.setInterval(120000);
        connect(&m_paceTimeout, &QTimer::timeout, this, [this] {
            std::fprintf(stderr, "bench-peer: no answer from the program\n");
            if (m_burstLeft >= 0) {
                say("error marker");
                m_burstLeft = -1;
            } else {
                finishPace();
            }
        });
        say("ready");
    }

    void sinkReached(bool isNotify)
    {
        const qint64 now = nowNs();
        if (m_burstLeft >= 0 && isNotify) {
            if (--m_notifiesAwaited > 0)
                return;
            m_paceTimeout.stop();
            if (m_burstLeft > 0) {
                QTimer::singleShot(0, this, &Peer::emitBurst);
            } else {
                say("emitted " + QByteArray::number(m_burstSent) + ' ' + QByteArray::number(m_markers));
                m_burstLeft = -1;
            }
            return;
        }
        if (m_paceLeft > 0 && isNotify == (m_paceKind == "shown")) {
            m_latencies.push_back((now - m_paceSent) / 1000.0);
            m_paceTimeout.stop();
            if (--m_paceLeft > 0)
                QTimer::singleShot(0, this, &Peer::paceOne);
            else
                finishPace();
        }
    }

    void reportReceived()
    {
        if (m_armed) {
            m_armed = false;
            say("report " + QByteArray::number(nowNs()));
        }
        sinkReached(false);
    }

private:
    void readCommands()
    {
        char buffer[256];
        const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (got <= 0) {
            QCoreApplication::quit();
            return;
        }
        m_pending.append(buffer, int(got));
        int end;
        while ((end = m_pending.indexOf('\n')) >= 0) {
            const QList<QByteArray> words = m_pending.left(end).simplified().split(' ');
            m_pending.remove(0, end + 1);
            run(words);
        }
    }

    void run(const QList<QByteArray> &words)
    {
        const QByteArray command = words.value(0);
        const QByteArray kind = words.value(1);
        const int count = words.value(2).toInt();
        if (command == "arm") {
            m_armed = true;
            say("armed");
        } else if (command == "emit") {
            m_burstKind = kind;
            m_burstLeft = count;
            m_burstSent = 0;
            m_markers = 0;
            emitBurst();
        } else if (command == "pace" && count > 0) {
            m_paceKind = kind;
            m_paceLeft = count;
            m_latencies.clear();
            m_latencies.reserve(size_t(count));
            paceOne();
        } else {
            say("error " + command);
        }
    }

    // dbus-daemon, unless configured otherwise, lets a connection have 128
    // calls awaiting replies: a longer burst of notices would have Notify
    // calls refused.
    void emitBurst()
    {
        const int size = qMin(m_burstLeft, 100);
        m_notifiesAwaited = 1;
        for (int i = 0; i < size; ++i)
            m_notifiesAwaited += emitOne(m_burstKind, m_burstSent++) ? 1 : 0;
        m_burstLeft -= size;
        // Signals come in on the system bus and are handled in order: the
        // marker's Notify means all before it are done.
        ++m_markers;
        m_paceTimeout.start();
        emitOne("shown", 0);
    }

    // True for a notice that the program shows.
    bool emitOne(const QByteArray &kind, int i)
    {
        const QString path = QStringLiteral("/appstore");
        const QString interface = QStringLiteral("com.home.appstore.daemon.interface");
        if (kind == "upgrade" || (kind == "mix" && i % 3 == 2)) {
            QDBusMessage signal = QDBusMessage::createSignal(path, interface,
                                                             QStringLiteral("sigLocalAppsUpgradeNotify"));
            signal << m_upgrade;
            m_system.send(signal);
            return false;
        }
        const bool shown = kind == "shown" || (kind == "mix" && i % 3 == 0);
        QDBusMessage signal = QDBusMessage::createSignal(path, interface, QStringLiteral("sigSystemNotificationSent"));
        signal << (shown ? m_shown : m_other);
        m_system.send(signal);
        return shown;
    }

    void paceOne()
    {
        m_paceTimeout.start();
        m_paceSent = nowNs();
        if (m_paceKind == "proxy") {
            if (!m_proxySettings)
                m_proxySettings = new QGSettings("com.orvane.wrap.gnome.system.proxy", QByteArray(), this);
            m_proxyToggle = !m_proxyToggle;
            m_proxySettings->set(QStringLiteral("autoconfigUrl"),
                                 m_proxyToggle ? QStringLiteral("http://wpad.example/b.pac")
                                               : QStringLiteral("http://wpad.example/a.pac"));
        } else {
            emitOne(m_paceKind, 0);
        }
    }

    void finishPace()
    {
        m_paceLeft = 0;
        QByteArray line = "latency";
        for (const double us : m_latencies)
            line += ' ' + QByteArray::number(us, 'f', 1);
        say(line);
    }

    QDBusConnection m_system;
    QDBusConnection m_session;
    SystemDaemon m_daemon;
    NotificationServer m_server;
    QSocketNotifier m_stdin;
    QByteArray m_pending;
    QString m_shown;
    QString m_other;
    QStringList m_upgrade;
    QGSettings *m_proxySettings = nullptr;
    bool m_proxyToggle = false;
    bool m_armed = true;
    QByteArray m_paceKind;
    int m_paceLeft = 0;
    QByteArray m_burstKind;
    int m_burstLeft = -1;
    int m_burstSent = 0;
    int m_markers = 0;
    int m_notifiesAwaited = 0;
    qint64 m_paceSent = 0;
    std::vector<double> m_latencies;
    QTimer m_paceTimeout;
};

SystemDaemon::SystemDaemon(Peer *peer)
    : m_peer(peer)
{
}

void SystemDaemon::SetSystemProxy(const QString &, const QString &)
{
    m_peer->reportReceived();
}

NotificationServer::NotificationServer(Peer *peer)
    : m_peer(peer)
{
}

uint NotificationServer::Notify(const QString &, uint, const QString &, const QString &, const QString &,
                                const QStringList &, const QVariantMap &, int)
{
    m_peer->sinkReached(true);
    return 1;
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: orvane-bench-peer SESSION-NAME-TO-WATCH\n");
        return 2;
    }
    Peer peer(QString::fromLocal8Bit(argv[1]));
    return app.exec();
}

#include "bench_peer.moc"
