/* SPDX-FileCopyrightText: 2026 Orvane */
/* SPDX-License-Identifier: GPL-3.0-or-later */

/* Preloaded into the daemon by the tests: SIGUSR1 makes the process call
 * abort(), as a failed check inside a library would. */
#include <signal.h>
#include <stdlib.h>

static void abort_now(int sig)
{
    (void)sig;
    abort();
}

__attribute__((constructor)) static void install(void)
{
    signal(SIGUSR1, abort_now);
}
