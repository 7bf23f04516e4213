// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

// Adds its argument to the largest int: with a positive argument, undefined
// behaviour that a sanitized build reports. The harness's own test runs it
// where no test looks at its output or its status.
#include <climits>
#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv)
{
    const int addend = argc > 1 ? std::atoi(argv[1]) : 0;
    volatile int largest = INT_MAX;
    const int sum = largest + addend;
    std::printf("%d\n", sum);
    return 0;
}
