# SPDX-FileCopyrightText: 2026 Orvane
# SPDX-License-Identifier: GPL-3.0-or-later

# -DORVANE_SANITIZE=ON builds every target with AddressSanitizer (leaks
# included) and UndefinedBehaviorSanitizer; scripts/test-sanitized runs the
# suite on such a build. Any finding ends the process that made it.
option(ORVANE_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(ORVANE_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
    # GCC's UndefinedBehaviorSanitizer writes to standard error whatever
    # UBSAN_OPTIONS' log_path says: every target built from here on carries
    # the start-up code that makes it honour log_path, so the test harness
    # finds its reports as it finds AddressSanitizer's.
    if(CMAKE_C_COMPILER_ID STREQUAL "GNU")
        add_library(orvane-ubsan-report-path OBJECT ${CMAKE_CURRENT_LIST_DIR}/ubsan_report_path.c)
        set_target_properties(orvane-ubsan-report-path PROPERTIES POSITION_INDEPENDENT_CODE ON)
        link_libraries(orvane-ubsan-report-path ${CMAKE_DL_LIBS})
    endif()
endif()
