// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

// The counters of a coverage build (-DORVANE_COVERAGE=ON, scripts/coverage)
// where gcov would lose them. In any other build this is nothing.
#pragma once

#ifdef ORVANE_COVERAGE
// Writes this process's counters now. gcov writes them at exit(), and before
// an execve() (GCC wraps the call), but not at _exit(): a forked child calls
// this first.
void writeCoverageCounters();
#else
inline void writeCoverageCounters()
{
}
#endif
