// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

// Preloaded into the installed daemon by the session check (LD_PRELOAD), in
// the place of the outside caller of slotInstallProgress: it takes the session
// service from its subscription to the system daemon's notices and invokes
// the slot by name, once, for the package ORVANE_CHECK_INSTALLED names, as a
// completed install made by the app store itself. ORVANE_CHECK_MARKER names a
// file made then: while it exists, later starts of the daemon invoke nothing.
#include <QByteArray>
#include <QDBusConnection>
#include <QFile>
#include <QMetaObject>
#include <QObject>
#include <QString>
#include <QTimer>

#include <dlfcn.h>

namespace {

using RealConnect = bool (*)(QDBusConnection *, const QString &, const QString &, const QString &, const QString &,
                             const QString &, QObject *, const char *);

void invokeOnce(QObject *service)
{
    const QString package = qEnvironmentVariable("ORVANE_CHECK_INSTALLED");
    QFile marker(qEnvironmentVariable("ORVANE_CHECK_MARKER"));
    if (package.isEmpty() || marker.fileName().isEmpty() || marker.exists() || !marker.open(QIODevice::WriteOnly))
        return;
    marker.close();
    const QString brief = QStringLiteral(
                              R"({"appBriefInfo":{"package_name":"%1","package_mode":1,"pkgInstallMode":1}})")
                              .arg(package);
    QMetaObject::invokeMethod(service, "slotInstallProgress", Q_ARG(QString, QStringLiteral("orvane-app-store")),
                              Q_ARG(QString, package), Q_ARG(int, 1), Q_ARG(int, 100), Q_ARG(int, 100),
                              Q_ARG(QString, brief));
}

} // namespace

bool QDBusConnection::connect(const QString &service, const QString &path, const QString &interface,
                              const QString &name, const QString &signature, QObject *receiver, const char *slot)
{
    static const auto real = reinterpret_cast<RealConnect>(
        ::dlsym(RTLD_NEXT, "_ZN15QDBusConnection7connectERK7QStringS2_S2_S2_S2_P7QObjectPKc"));
    if (name == QLatin1String("sigSystemNotificationSent") && receiver
        && receiver->metaObject()->indexOfSlot("slotInstallProgress(QString,QString,int,int,int,QString)") >= 0)
        QTimer::singleShot(0, receiver, [receiver] { invokeOnce(receiver); });
    return real && real(this, service, path, interface, name, signature, receiver, slot);
}
