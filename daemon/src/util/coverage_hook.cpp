// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

// Compiled into coverage builds only.

#include "util/coverage_hook.h"

#include <cstdlib>
#include <string>
#include <unistd.h>

extern "C" void __gcov_dump(void);

void writeCoverageCounters()
{
    __gcov_dump();
}

namespace {

// gcov writes each object's counters beside it in the build tree, where a
// process the tests run as another user may not write. Such a process sends
// them to gcov-other-users/uid-N/ in the build directory instead, laid out
// like the build tree; scripts/coverage makes that directory and merges it.
// gcov reads GCOV_PREFIX when it writes, so setting it at start is enough.
__attribute__((constructor)) void sendForeignCounters()
{
    const char *const build = ORVANE_COVERAGE_BUILD_DIR;
    if (::getenv("GCOV_PREFIX") || ::access(build, W_OK) == 0)
        return;
    int components = 0;
    for (const char *c = build; *c; ++c) {
        if (*c == '/' && c[1] && c[1] != '/')
            ++components;
    }
    const std::string prefix = std::string(build) + "/gcov-other-users/uid-" + std::to_string(::getuid());
    ::setenv("GCOV_PREFIX", prefix.c_str(), 1);
    ::setenv("GCOV_PREFIX_STRIP", std::to_string(components).c_str(), 1);
}

} // namespace
