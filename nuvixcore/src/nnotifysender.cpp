// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

#include "nuvixcore/nnotifysender.h"

#include <QDBusConnection>
#include <QDBusMessage>

namespace Nuvix {
namespace Core {
namespace NUtil {

NNotifySender::NNotifySender(const QString &summary)
    : m_summary(summary)
{
}

NNotifySender NNotifySender::appName(const QString &name) const
{
    NNotifySender next(*this);
    next.m_appName = name;
    return next;
}

NNotifySender NNotifySender::replaceId(unsigned int id) const
{
    NNotifySender next(*this);
    next.m_replaceId = id;
    return next;
}

NNotifySender NNotifySender::appIcon(const QString &icon) const
{
    NNotifySender next(*this);
    next.m_appIcon = icon;
    return next;
}

NNotifySender NNotifySender::appBody(const QString &body) const
{
    NNotifySender next(*this);
    next.m_body = body;
    return next;
}

NNotifySender NNotifySender::actions(const QStringList &actions) const
{
    NNotifySender next(*this);
    next.m_actions = actions;
    return next;
}

NNotifySender NNotifySender::hints(const QVariantMap &hints) const
{
    NNotifySender next(*this);
    next.m_hints = hints;
    return next;
}

NNotifySender NNotifySender::timeOut(int milliseconds) const
{
    NNotifySender next(*this);
    next.m_timeOut = milliseconds;
    return next;
}

QDBusPendingCall NNotifySender::call() const
{
    QDBusMessage message = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    // Notify (susssasa{sv}i): the replaces id must go out as uint32.
    message << m_appName << QVariant::fromValue(static_cast<uint>(m_replaceId)) << m_appIcon << m_summary << m_body
            << m_actions << m_hints << m_timeOut;
    return QDBusConnection::sessionBus().asyncCall(message);
}

} // namespace NUtil
} // namespace Core
} // namespace Nuvix
