# SPDX-FileCopyrightText: 2026 Orvane
# SPDX-License-Identifier: GPL-3.0-or-later

# The desktop toolkit's core library: the project's own stand-in, linked in
# statically, or with ORVANE_SYSTEM_NUVIXCORE the desktop's installed library
# (found through pkg-config, or failing that by its library and header names).
# Either way the rest of the build links the target "nuvixcore".
option(ORVANE_SYSTEM_NUVIXCORE "Build against the desktop's installed toolkit library instead of the stand-in" OFF)

if(NOT ORVANE_SYSTEM_NUVIXCORE)
    add_subdirectory(${PROJECT_SOURCE_DIR}/nuvixcore)
    return()
endif()

pkg_check_modules(NUVIXCORE QUIET IMPORTED_TARGET nuvixcore)
add_library(nuvixcore INTERFACE)
if(NUVIXCORE_FOUND)
    target_link_libraries(nuvixcore INTERFACE PkgConfig::NUVIXCORE)
    message(STATUS "Toolkit: nuvixcore ${NUVIXCORE_VERSION} from pkg-config (${NUVIXCORE_LINK_LIBRARIES})")
else()
    find_library(NUVIXCORE_LIBRARY NAMES nuvixcore)
    find_path(NUVIXCORE_INCLUDE_DIR NAMES nuvixcore/nlogmanager.h)
    if(NOT NUVIXCORE_LIBRARY OR NOT NUVIXCORE_INCLUDE_DIR)
        message(FATAL_ERROR "ORVANE_SYSTEM_NUVIXCORE is on but no installed nuvixcore was found "
                            "(neither nuvixcore.pc nor libnuvixcore with nuvixcore/nlogmanager.h)")
    endif()
    target_include_directories(nuvixcore INTERFACE ${NUVIXCORE_INCLUDE_DIR})
    target_link_libraries(nuvixcore INTERFACE ${NUVIXCORE_LIBRARY} Qt::Core Qt::DBus)
    message(STATUS "Toolkit: ${NUVIXCORE_LIBRARY}")
endif()
