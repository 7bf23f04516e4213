// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

// Entry of the standalone session daemon.
#include "dbus/dbus_interface.h"
#include "logging/log_category.h"
#include "logrules/log_rules_watcher.h"
#include "util/log_handler.h"
#include "util/session_daemon_application.h"

#include <csignal>

int main(int argc, char **argv)
{
    // A console whose reader has gone (a log collector that restarts) must
    // cost log lines, not the process: writes to it fail with EPIPE instead.
    // Children started through QProcess get the default back.
    ::signal(SIGPIPE, SIG_IGN);
    // Before anything logs: every message is made safe for a log line.
    installLogHandler();

    // First of all, so that its rules govern every later message.
    LogRulesWatcher logRulesWatcher;

    DBusInterface dbusInterface("");
    if (!dbusInterface.registerDBus()) {
        qCWarning(logMain) << "Register D-Bus failed, exit";
        return -1;
    }

    SessionDaemonApplication app(argc, argv);
    return app.exec();
}
