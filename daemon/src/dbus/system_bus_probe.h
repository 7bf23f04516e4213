// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

// Finds out, without blocking, whether the system bus answers at all.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <optional>

class QSocketNotifier;
class QTimer;

// A bus socket on this machine, as a D-Bus address names it.
struct UnixBusSocket
{
    QByteArray name; // the file path, or the abstract name without its leading nul
    bool abstract = false;
};

// The socket of the first address in a D-Bus address list ("unix:path=..."
// or "unix:abstract=...", values %-escaped), or nothing when the first
// address is of another kind or malformed. Pure.
std::optional<UnixBusSocket> firstUnixBusSocket(const QString &addresses);

// Qt connects to the system bus in its bus thread and waits for the bus
// daemon's answer there; a bus daemon that is stopped accepts the connection
// and answers nothing, so every connection of the process, the session bus
// included, would wait with it. This asks the bus daemon the first question
// of the D-Bus handshake on a socket of its own and only watches for the
// answer.
class SystemBusProbe final : public QObject
{
    Q_OBJECT

public:
    explicit SystemBusProbe(QObject *parent = nullptr);
    ~SystemBusProbe() override;

    // Waits up to waitMs. True when the bus answered, or when there is no
    // answer to wait for (no bus, an address this cannot probe): Qt then
    // connects, or fails, at once. Otherwise sigAnswered follows once the bus
    // answers.
    bool answersWithin(int waitMs);

Q_SIGNALS:
    void sigAnswered();

private:
    enum class Outcome { Answered, Waiting, Retry };
    Outcome start();
    void finish();

    int m_fd = -1;
    std::optional<UnixBusSocket> m_socket;
    QSocketNotifier *m_notifier = nullptr;
    QTimer *m_retry = nullptr;
};
