// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

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
    // From now on every message also reaches a log file of the application.
    static void registerFileAppender();

    NLogManager() = delete;
};

} // namespace Core
} // namespace Nuvix
