// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

// Application object of the standalone program: translation, names, log
// appenders, the session service, and an orderly exit on termination signals
// and when the session bus goes away.
#pragma once

#include <QCoreApplication>

class QSocketNotifier;
class QTranslator;

class SessionDaemonApplication : public QCoreApplication
{
    Q_OBJECT

public:
    SessionDaemonApplication(int &argc, char **argv);
    ~SessionDaemonApplication() override;

private Q_SLOTS:
    void slotSessionBusDisconnected();

private:
    void loadTranslation();
    void installSignalHandlers();

    QTranslator *m_translator = nullptr;
    QSocketNotifier *m_signalNotifier = nullptr;
    bool m_quitAsked = false;
};
