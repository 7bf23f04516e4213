/* SPDX-FileCopyrightText: 2026 Orvane */
/* SPDX-License-Identifier: GPL-3.0-or-later */

/* Preloaded into the daemon by the tests: records every malloc_trim call as
 * one line in the file named by ORVANE_TRIM_LOG, then trims as usual. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

int malloc_trim(size_t pad)
{
    static int (*real)(size_t);
    if (!real)
        real = (int (*)(size_t))dlsym(RTLD_NEXT, "malloc_trim");
    const char *path = getenv("ORVANE_TRIM_LOG");
    if (path) {
        int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        if (fd >= 0) {
            (void)!write(fd, "trim\n", 5);
            close(fd);
        }
    }
    return real ? real(pad) : 0;
}
