# SPDX-FileCopyrightText: 2026 Orvane
# SPDX-License-Identifier: GPL-3.0-or-later

# -DORVANE_SANITIZE=ON builds every target with AddressSanitizer (leaks
# included) and UndefinedBehaviorSanitizer; scripts/test-sanitized runs the
# suite on such a build. Any finding ends the process that made it.
option(ORVANE_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(ORVANE_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()
