# Where an install puts what GNUInstallDirs alone does not say. Relative values
# are taken under CMAKE_INSTALL_PREFIX; ORVANE_FULL_<name>_DIR is the absolute
# path, for the files that must name it.

# A session daemon that nobody runs by hand: libexec, not bin.
set(ORVANE_DAEMON_DIR ${CMAKE_INSTALL_LIBEXECDIR} CACHE PATH
    "Directory of the program orvane-appstore-session-daemon")
set(ORVANE_PLUGIN_DIR ${CMAKE_INSTALL_LIBDIR}/orvane-session-manager/plugins CACHE PATH
    "Plugin directory of the session service manager")
# lib, not the multi-arch library directory: systemd looks only there.
set(ORVANE_USER_UNIT_DIR lib/systemd/user CACHE PATH "Directory of systemd user units")
set(ORVANE_DBUS_SERVICE_DIR ${CMAKE_INSTALL_DATADIR}/dbus-1/services CACHE PATH
    "Directory of D-Bus session service files")
# GNUInstallDirs makes this /etc, not /usr/etc, for the prefix /usr.
set(ORVANE_AUTOSTART_DIR ${CMAKE_INSTALL_FULL_SYSCONFDIR}/xdg/autostart CACHE PATH
    "Directory of XDG autostart entries")

foreach(name DAEMON PLUGIN USER_UNIT DBUS_SERVICE AUTOSTART)
    if(IS_ABSOLUTE "${ORVANE_${name}_DIR}")
        set(ORVANE_FULL_${name}_DIR "${ORVANE_${name}_DIR}")
    else()
        set(ORVANE_FULL_${name}_DIR "${CMAKE_INSTALL_PREFIX}/${ORVANE_${name}_DIR}")
    endif()
endforeach()
