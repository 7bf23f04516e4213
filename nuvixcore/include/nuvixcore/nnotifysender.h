// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

// Builder for one desktop notification, sent with the eight arguments of the
// org.freedesktop.Notifications Notify method.
#pragma once

#include <QDBusPendingCall>
#include <QString>
#include <QStringList>
#include <QVariantMap>

namespace Nuvix {
namespace Core {
namespace NUtil {

class NNotifySender
{
public:
    explicit NNotifySender(const QString &summary);

    NNotifySender appName(const QString &name) const;
    NNotifySender replaceId(unsigned int id) const;
    NNotifySender appIcon(const QString &icon) const;
    NNotifySender appBody(const QString &body) const;
    NNotifySender actions(const QStringList &actions) const;
    NNotifySender hints(const QVariantMap &hints) const;
    NNotifySender timeOut(int milliseconds) const;

    // Sends Notify on the session bus without waiting for the reply.
    QDBusPendingCall call() const;

private:
    QString m_appName;
    unsigned int m_replaceId = 0;
    QString m_appIcon;
    QString m_summary;
    QString m_body;
    QStringList m_actions;
    QVariantMap m_hints;
    int m_timeOut = -1;
};

} // namespace NUtil
} // namespace Core
} // namespace Nuvix
