# SPDX-FileCopyrightText: 2026 Orvane
# SPDX-License-Identifier: GPL-3.0-or-later

# The Qt the whole build uses: -DORVANE_QT_MAJOR=5 (Qt 5.15, the default) or 6.
# The plugin is loaded into the session service manager's own process, so it
# must be built against the Qt major version of that host; the program follows
# the same choice. Qt is looked for once, here; the rest of the build links the
# versionless targets (Qt::Core, ...), which Qt 5.15 and Qt 6 both provide.
#
# Sets ORVANE_GSETTINGS_QT_MODULE, the pkg-config name of gsettings-qt for that
# Qt (gsettings-qt for Qt 5, gsettings-qt6 for Qt 6), and ORVANE_QT_BIN_DIRS,
# where that Qt's tools (lrelease) are looked for first.
set(ORVANE_QT_MAJOR 5 CACHE STRING "Qt major version to build against (5 or 6)")
set_property(CACHE ORVANE_QT_MAJOR PROPERTY STRINGS 5 6)

if(ORVANE_QT_MAJOR STREQUAL "5")
    set(ORVANE_QT_MIN_VERSION 5.15)
    set(ORVANE_GSETTINGS_QT_MODULE gsettings-qt)
elseif(ORVANE_QT_MAJOR STREQUAL "6")
    set(ORVANE_QT_MIN_VERSION 6.2)
    set(ORVANE_GSETTINGS_QT_MODULE gsettings-qt6)
else()
    message(FATAL_ERROR "ORVANE_QT_MAJOR must be 5 or 6, not \"${ORVANE_QT_MAJOR}\"")
endif()

# orvane_find_qt(component...): find_package of the chosen Qt with these
# components, at least the version the code is written for.
macro(orvane_find_qt)
    find_package(Qt${ORVANE_QT_MAJOR} ${ORVANE_QT_MIN_VERSION} REQUIRED COMPONENTS ${ARGN})
    message(STATUS "Qt: ${Qt${ORVANE_QT_MAJOR}_VERSION} (${ARGN})")
endmacro()

set(ORVANE_QT_BIN_DIRS
    /usr/lib/qt${ORVANE_QT_MAJOR}/bin
    /usr/lib/${CMAKE_LIBRARY_ARCHITECTURE}/qt${ORVANE_QT_MAJOR}/bin)
