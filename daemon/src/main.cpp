// Entry of the standalone session daemon.
#include "dbus/dbus_interface.h"
#include "logrules/log_rules_watcher.h"
#include "util/log_category.h"
#include "util/session_daemon_application.h"

int main(int argc, char **argv)
{
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
