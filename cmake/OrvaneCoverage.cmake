# SPDX-FileCopyrightText: 2026 Orvane
# SPDX-License-Identifier: GPL-3.0-or-later

# -DORVANE_COVERAGE=ON builds every target with gcov's counters, unoptimised
# so that lines and branches map to the source; scripts/coverage runs the
# suite on such a build and reports with gcovr.
option(ORVANE_COVERAGE "Build with gcov counters (--coverage) for scripts/coverage" OFF)
if(ORVANE_COVERAGE)
    if(ORVANE_SANITIZE)
        message(FATAL_ERROR "ORVANE_COVERAGE and ORVANE_SANITIZE are separate builds")
    endif()
    # The bus thread and the main thread share the counters of the code both run.
    add_compile_options(-O0 --coverage -fprofile-update=atomic)
    add_link_options(--coverage)
endif()
