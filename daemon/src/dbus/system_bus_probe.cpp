// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

#include "dbus/system_bus_probe.h"

#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// libdbus's default when DBUS_SYSTEM_BUS_ADDRESS is unset.
constexpr char kDefaultSystemBus[] = "unix:path=/var/run/dbus/system_bus_socket";
// A bus daemon whose backlog is full refuses at once: ask again a while later.
constexpr int kRetryMs = 500;

// The first line of a client's handshake: a nul byte, then a request for the
// server's mechanisms, which every bus daemon answers with one line.
constexpr char kHello[] = {'\0', 'A', 'U', 'T', 'H', '\r', '\n'};

} // namespace

std::optional<UnixBusSocket> firstUnixBusSocket(const QString &addresses)
{
    const QString first = addresses.section(QLatin1Char(';'), 0, 0).trimmed();
    if (!first.startsWith(QLatin1String("unix:")))
        return std::nullopt;
    const QStringList pairs = first.mid(5).split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString &pair : pairs) {
        const int equals = pair.indexOf(QLatin1Char('='));
        if (equals <= 0)
            return std::nullopt;
        const QString key = pair.left(equals);
        if (key != QLatin1String("path") && key != QLatin1String("abstract"))
            continue;
        const QByteArray value = QByteArray::fromPercentEncoding(pair.mid(equals + 1).toLatin1());
        // sun_path holds 108 bytes: a path's nul, or an abstract name's leading nul.
        if (value.isEmpty() || value.size() >= int(sizeof(sockaddr_un::sun_path)) || value.contains('\0'))
            return std::nullopt;
        return UnixBusSocket{value, key == QLatin1String("abstract")};
    }
    return std::nullopt;
}

SystemBusProbe::SystemBusProbe(QObject *parent)
    : QObject(parent)
{
    const QByteArray address = qgetenv("DBUS_SYSTEM_BUS_ADDRESS");
    m_socket = firstUnixBusSocket(address.isEmpty() ? QString::fromLatin1(kDefaultSystemBus)
                                                    : QString::fromUtf8(address));
}

SystemBusProbe::~SystemBusProbe()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool SystemBusProbe::answersWithin(int waitMs)
{
    const Outcome outcome = start();
    if (outcome == Outcome::Answered)
        return true;
    if (outcome == Outcome::Waiting) {
        pollfd answer{m_fd, POLLIN, 0};
        int ready;
        do
            ready = ::poll(&answer, 1, waitMs);
        while (ready < 0 && errno == EINTR);
        if (ready != 0) {
            finish();
            return true;
        }
        m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, [this] {
            finish();
            Q_EMIT sigAnswered();
        });
        return false;
    }
    m_retry = new QTimer(this);
    m_retry->setInterval(kRetryMs);
    connect(m_retry, &QTimer::timeout, this, [this] {
        const Outcome again = start();
        if (again == Outcome::Retry)
            return;
        m_retry->stop();
        if (again == Outcome::Answered) {
            Q_EMIT sigAnswered();
            return;
        }
        m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, [this] {
            finish();
            Q_EMIT sigAnswered();
        });
    });
    m_retry->start();
    return false;
}

SystemBusProbe::Outcome SystemBusProbe::start()
{
    if (!m_socket)
        return Outcome::Answered;
    m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_fd < 0)
        return Outcome::Answered;

    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    socklen_t length = offsetof(sockaddr_un, sun_path);
    if (m_socket->abstract) {
        std::memcpy(address.sun_path + 1, m_socket->name.constData(), size_t(m_socket->name.size()));
        length += socklen_t(m_socket->name.size() + 1);
    } else {
        std::memcpy(address.sun_path, m_socket->name.constData(), size_t(m_socket->name.size()));
        length += socklen_t(m_socket->name.size() + 1);
    }
    int connected;
    do
        connected = ::connect(m_fd, reinterpret_cast<const sockaddr *>(&address), length);
    while (connected < 0 && errno == EINTR);
    if (connected < 0) {
        const int error = errno;
        finish();
        // A full backlog: the bus daemon does not take connections now.
        // Anything else (no socket, refused): no bus to wait for.
        return error == EAGAIN || error == EINPROGRESS ? Outcome::Retry : Outcome::Answered;
    }
    if (::send(m_fd, kHello, sizeof kHello, MSG_NOSIGNAL) != ssize_t(sizeof kHello)) {
        finish();
        return Outcome::Answered;
    }
    return Outcome::Waiting;
}

void SystemBusProbe::finish()
{
    if (m_notifier) {
        m_notifier->setEnabled(false);
        m_notifier->deleteLater();
        m_notifier = nullptr;
    }
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}
