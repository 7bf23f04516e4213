# SPDX-FileCopyrightText: 2026 Orvane
# SPDX-License-Identifier: GPL-3.0-or-later

# Where an install puts what GNUInstallDirs alone does not say. Each place is a
# cache variable; a relative value is taken under the GNUInstallDirs directory
# its description names, so that a later change of the prefix or of that
# directory carries over. For each, ORVANE_<name>_DEST is the install()
# destination and ORVANE_FULL_<name>_DIR the absolute path, for the files that
# must name it.
set(ORVANE_PLUGIN_DIR orvane-session-manager/plugins CACHE PATH
    "Plugin directory of the session service manager (relative: under CMAKE_INSTALL_LIBDIR)")
set(ORVANE_USER_UNIT_DIR lib/systemd/user CACHE PATH
    "systemd user units (relative: under CMAKE_INSTALL_PREFIX; lib, not the multi-arch library directory)")
set(ORVANE_DBUS_SERVICE_DIR dbus-1/services CACHE PATH
    "D-Bus session service files (relative: under CMAKE_INSTALL_DATADIR)")
set(ORVANE_AUTOSTART_DIR xdg/autostart CACHE PATH
    "XDG autostart entries (relative: under CMAKE_INSTALL_SYSCONFDIR, which is /etc for the prefix /usr)")

function(orvane_install_dir name base)
    set(value "${ORVANE_${name}_DIR}")
    if(IS_ABSOLUTE "${value}")
        set(full "${value}")
        set(dest "${value}")
    elseif(base STREQUAL "PREFIX")
        set(full "${CMAKE_INSTALL_PREFIX}/${value}")
        set(dest "${value}")
    else()
        set(full "${CMAKE_INSTALL_FULL_${base}}/${value}")
        # GNUInstallDirs may place a directory outside the prefix (/etc for /usr).
        if(full STREQUAL "${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_${base}}/${value}")
            set(dest "${CMAKE_INSTALL_${base}}/${value}")
        else()
            set(dest "${full}")
        endif()
    endif()
    set(ORVANE_FULL_${name}_DIR "${full}" PARENT_SCOPE)
    set(ORVANE_${name}_DEST "${dest}" PARENT_SCOPE)
endfunction()

orvane_install_dir(PLUGIN LIBDIR)
orvane_install_dir(USER_UNIT PREFIX)
orvane_install_dir(DBUS_SERVICE DATADIR)
orvane_install_dir(AUTOSTART SYSCONFDIR)
# A session daemon that nobody runs by hand: libexec, not bin.
set(ORVANE_DAEMON_DEST ${CMAKE_INSTALL_LIBEXECDIR})
set(ORVANE_FULL_DAEMON_DIR ${CMAKE_INSTALL_FULL_LIBEXECDIR})
