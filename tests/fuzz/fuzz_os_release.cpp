// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

// The os-release text, up to the edition that switches the system notices on.
#include "fuzz_input.h"

#include <nsysinfo_p.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const int edition = Nuvix::Core::editionTypeFromOsRelease(fuzzBytes(data, size));
    volatile bool systemNoticesEnabled = edition == 3;
    (void)systemNoticesEnabled;
    return 0;
}
