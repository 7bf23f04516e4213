// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

// The floor of the daemon's own stack: a minimal program linked like the
// daemon that does the same start-up work and idles. Built twice: the rest
// floor ignores the notices it subscribes to; the event floor (FLOOR_HANDLES_NOTICES)
// parses each one, drops other users' and sends one Notify without awaiting it.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QGSettings>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkProxyFactory>
#include <QVariantMap>

#include <pwd.h>
#include <unistd.h>

namespace {

#ifdef FLOOR_HANDLES_NOTICES
const QString kFloorName = QStringLiteral("com.orvane.appstore.eventfloor");
#else
const QString kFloorName = QStringLiteral("com.orvane.appstore.restfloor");
#endif
const QString kFloorPath = QStringLiteral("/com/orvane/appstore/floor");

QString loginName()
{
    const passwd *entry = ::getpwuid(::getuid());
    return entry ? QString::fromUtf8(entry->pw_name) : QString();
}

} // namespace

class Floor : public QObject
{
    Q_OBJECT
public:
    explicit Floor(QObject *parent = nullptr)
        : QObject(parent)
        , m_logName(loginName())
    {
    }

public Q_SLOTS:
    void slotSystemNotificationSent(const QString &noticeJson)
    {
#ifdef FLOOR_HANDLES_NOTICES
        const QJsonDocument document = QJsonDocument::fromJson(noticeJson.toUtf8());
        if (!document.isObject())
            return;
        const QJsonObject notice = document.object();
        if (notice.value(QLatin1String("logname")).toString() != m_logName)
            return;
        const QString summary = QStringLiteral("\"%1\" installed successfully")
                                    .arg(notice.value(QLatin1String("appName")).toString());
        QDBusMessage notify = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
            QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
        notify << QStringLiteral("orvane-app-store") << QVariant::fromValue(0u)
               << QStringLiteral("package-install-succeed") << summary << QString() << QStringList() << QVariantMap()
               << 3000;
        QDBusConnection::sessionBus().asyncCall(notify);
#else
        Q_UNUSED(noticeJson)
#endif
    }

private:
    const QString m_logName;
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);

    QDBusConnection session = QDBusConnection::sessionBus();
    Floor floor;
    if (!session.registerService(kFloorName) || !session.registerObject(kFloorPath, &floor))
        return 255;

    QDBusConnection system = QDBusConnection::systemBus();
    QNetworkProxyFactory::setUseSystemConfiguration(true);
    QGSettings settings("com.orvane.kesh.app-store", "/com/orvane/kesh/app-store/");
    system.connect(QStringLiteral("com.home.appstore.daemon"), QStringLiteral("/appstore"),
                   QStringLiteral("com.home.appstore.daemon.interface"), QStringLiteral("sigSystemNotificationSent"),
                   &floor, SLOT(slotSystemNotificationSent(QString)));

    return app.exec();
}

#include "floor.moc"
