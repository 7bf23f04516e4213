// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

// Entry of the standalone session daemon.
#include "dbus/dbus_interface.h"
#include "logging/log_category.h"
#include "logrules/log_rules_watcher.h"
#include "util/log_handler.h"
#include "util/session_daemon_application.h"

#include <malloc.h>

#include <csignal>

int main(int argc, char **argv)
{
    // A console whose reader has gone (a log collector that restarts) must
    // cost log lines, not the process: writes to it fail with EPIPE instead.
    // Children started through QProcess get the default back.
    ::signal(SIGPIPE, SIG_IGN);
    // Messages of up to 32 MiB, some from anyone on the system bus, are read
    // in the bus thread. After the first large one glibc would raise its mmap
    // threshold to that size and keep every later one in the bus thread's
    // arena once freed, for good: malloc_trim shrinks no arena but the main
    // one. A fixed threshold (glibc's default) gives each back when freed.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
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
