// Log appenders of the toolkit: route every Qt message of the process to the
// console and to a per-application log file.
#pragma once

namespace Nuvix {
namespace Core {

class NLogManager
{
public:
    // From now on every message also reaches standard error, one line each.
    static void registerConsoleAppender();
    // From now on every message also reaches
    // $XDG_STATE_HOME/<organisation>/<application>.log (mode 0600, dir 0700),
    // rotated past 4 MiB with one previous file kept as <application>.log.1.
    static void registerFileAppender();

    NLogManager() = delete;
};

} // namespace Core
} // namespace Nuvix
