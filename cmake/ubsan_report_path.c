/* SPDX-FileCopyrightText: 2026 Orvane */
/* SPDX-License-Identifier: GPL-3.0-or-later */

/* Linked into every program and library of a sanitized GCC build. GCC's
 * UndefinedBehaviorSanitizer runtime (libubsan) keeps a report file of its
 * own beside AddressSanitizer's: when it reads UBSAN_OPTIONS it hands
 * log_path to the first __sanitizer_set_report_path the dynamic linker
 * finds, which is AddressSanitizer's, and so writes its own reports to
 * standard error whatever log_path says. This hands log_path to libubsan's
 * own copy at start-up, so that its reports land where the test harness
 * collects them. Without libubsan, or without log_path, it does nothing. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdlib.h>
#include <string.h>

typedef void (*SetReportPath)(const char *path);

/* The value of the last log_path= in a sanitizer option string (later
 * options override earlier ones, as in the runtime's own parser), copied
 * into path; empty if there is none or it does not fit. */
static void last_log_path(const char *options, char *path, size_t size)
{
    static const char key[] = "log_path=";
    const char *p = options;
    path[0] = '\0';
    while ((p = strstr(p, key)) != NULL) {
        const int at_start = p == options || strchr(" ,:\t\n\r", p[-1]) != NULL;
        p += sizeof key - 1;
        if (!at_start)
            continue;
        const size_t length = strcspn(p, " ,:\t\n\r");
        if (length < size) {
            memcpy(path, p, length);
            path[length] = '\0';
        } else {
            path[0] = '\0';
        }
    }
}

__attribute__((constructor)) static void ubsan_report_path(void)
{
    const char *options = getenv("UBSAN_OPTIONS");
    if (options == NULL)
        return;
    char path[4096];
    last_log_path(options, path, sizeof path);
    if (path[0] == '\0')
        return;
    void *ubsan = dlopen("libubsan.so.1", RTLD_NOW | RTLD_NOLOAD);
    if (ubsan == NULL)
        return;
    const SetReportPath set = (SetReportPath)dlsym(ubsan, "__sanitizer_set_report_path");
    if (set != NULL)
        set(path);
    dlclose(ubsan);
}
