# The Debian packages, one per install component:
#   raidmon  the headless monitor (with its systemd unit) and raidctl; no GUI
#            libraries, for servers;
#   raidgui  the window, its desktop entry, icons and polkit policy; it
#            depends on raidmon of the same version;
# each with its debug symbols in a -dbgsym package, its manual pages (made
# by help2man from the program's own --help), the copyright file and the
# Debian changelog. scripts/package.sh builds them; tests/package_check.sh
# checks them with lintian and readelf; scripts/test-package-install.sh
# installs them into a clean Debian 12 root. docs/packaging.md explains the
# choices and the lintian warnings left.
include(GNUInstallDirs)

# The package version is the top entry of packaging/changelog: its upstream
# part must be the project's version, so a new version needs a new entry.
file(STRINGS ${CMAKE_SOURCE_DIR}/packaging/changelog _top LIMIT_COUNT 1)
if(NOT _top MATCHES "^raidgui \\(([^)-]+)-([^)]+)\\) ")
  message(FATAL_ERROR "packaging/changelog must begin with \"raidgui (VERSION-REVISION) ...\"")
endif()
set(RAID_DEB_UPSTREAM ${CMAKE_MATCH_1})
set(RAID_DEB_REVISION ${CMAKE_MATCH_2})
if(NOT RAID_DEB_UPSTREAM STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "packaging/changelog's top entry is ${RAID_DEB_UPSTREAM}, the project is ${PROJECT_VERSION}: "
                      "add an entry for ${PROJECT_VERSION} to packaging/changelog")
endif()
set(RAID_DEB_VERSION ${RAID_DEB_UPSTREAM}-${RAID_DEB_REVISION})

install(TARGETS raidmon raidctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT monitor)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/raidmon.service DESTINATION lib/systemd/system COMPONENT monitor)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/raidctl.bash-completion DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME raidctl COMPONENT monitor)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/docs/design.md ${CMAKE_SOURCE_DIR}/docs/simulator.md
        ${CMAKE_SOURCE_DIR}/docs/packaging.md DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/raidmon COMPONENT monitor)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/scenarios/ DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/raidmon/scenarios
        COMPONENT monitor)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs/monitoring/ DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/raidmon/monitoring
        COMPONENT monitor)

install(TARGETS raidgui RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT window)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/raidgui.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
        COMPONENT window)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/org.raidgui.raidgui.policy
        DESTINATION ${CMAKE_INSTALL_DATADIR}/polkit-1/actions COMPONENT window)
# The standalone start through pkexec, its arguments fixed.
install(PROGRAMS ${CMAKE_SOURCE_DIR}/packaging/raidgui-standalone DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/raidgui
        COMPONENT window)

# The icons, drawn by the program's own code in the usual sizes.
set(RAID_ICON_DIR ${CMAKE_BINARY_DIR}/icons)
add_custom_command(OUTPUT ${RAID_ICON_DIR}/48x48/apps/raidgui.png
  COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen $<TARGET_FILE:raidgui_icons> ${RAID_ICON_DIR}
  DEPENDS raidgui_icons COMMENT "Drawing the program's icons")
add_custom_target(raidgui_icon_files ALL DEPENDS ${RAID_ICON_DIR}/48x48/apps/raidgui.png)
install(DIRECTORY ${RAID_ICON_DIR}/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor COMPONENT window)

# What every package carries in /usr/share/doc/<package>: the copyright file
# and the changelog, compressed as Debian wants it (gzip -9n: no name, no
# time stamp, so the file is the same at every build).
set(RAID_DEB_DIR ${CMAKE_BINARY_DIR}/deb)
find_program(RAID_GZIP gzip REQUIRED)
add_custom_command(OUTPUT ${RAID_DEB_DIR}/changelog.Debian.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${RAID_DEB_DIR}
  COMMAND ${RAID_GZIP} -9n -c ${CMAKE_SOURCE_DIR}/packaging/changelog > ${RAID_DEB_DIR}/changelog.Debian.gz
  DEPENDS ${CMAKE_SOURCE_DIR}/packaging/changelog COMMENT "Compressing the Debian changelog")

# The manual pages, made from each program's --help (and the sections of
# packaging/man/PROGRAM.h2m), so they say what the option table says. The
# version is given as --version's first line says it: help2man would put
# the title line that follows it at the end of the last command's options.
# Without help2man the packages cannot be built; everything else can.
find_program(RAID_HELP2MAN help2man)
set(_man_outputs ${RAID_DEB_DIR}/changelog.Debian.gz)
set(_man_summary_raidmon "headless monitor of two-drive RAID enclosures")
set(_man_summary_raidctl "command-line tool for two-drive RAID enclosures")
set(_man_summary_raidgui "manager window for two-drive RAID enclosures")
if(RAID_HELP2MAN)
  foreach(_program raidmon raidctl raidgui)
    set(_page ${RAID_DEB_DIR}/man/${_program}.1)
    add_custom_command(OUTPUT ${_page}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${RAID_DEB_DIR}/man
      COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
              ${RAID_HELP2MAN} --no-info --no-discard-stderr --section=1
              --name=${_man_summary_${_program}} --source=raidgui --manual=User\ Commands
              --version-string=${_program}\ ${PROJECT_VERSION}
              --include=${CMAKE_SOURCE_DIR}/packaging/man/${_program}.h2m --output=${_page}
              $<TARGET_FILE:${_program}>
      COMMAND ${RAID_GZIP} -9nf ${_page}
      DEPENDS ${_program} ${CMAKE_SOURCE_DIR}/packaging/man/${_program}.h2m
      COMMENT "Making the manual page of ${_program}")
    list(APPEND _man_outputs ${_page}.gz)
  endforeach()
  install(FILES ${RAID_DEB_DIR}/man/raidmon.1.gz ${RAID_DEB_DIR}/man/raidctl.1.gz
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT monitor)
  install(FILES ${RAID_DEB_DIR}/man/raidgui.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT window)
endif()
# Built by scripts/package.sh (not by a plain build).
add_custom_target(raidgui_package_files DEPENDS ${_man_outputs})
foreach(_package raidmon:monitor raidgui:window)
  string(REPLACE ":" ";" _package "${_package}")
  list(GET _package 0 _name)
  list(GET _package 1 _component)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright ${RAID_DEB_DIR}/changelog.Debian.gz
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${_name} COMPONENT ${_component})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL monitor window)
set(CPACK_PACKAGE_NAME raidgui)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_VERSION ${RAID_DEB_UPSTREAM})
set(CPACK_DEBIAN_PACKAGE_RELEASE ${RAID_DEB_REVISION})
set(CPACK_PACKAGE_CONTACT "RAID GUI maintainers <maintainers@users.noreply.c-seed-7fe9d178.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SOURCE raidgui)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The programs are stripped as they are packed: their debug symbols go to
# <package>-dbgsym (found by build id under /usr/lib/debug/.build-id).
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)

set(CPACK_DEBIAN_MONITOR_PACKAGE_NAME raidmon)
set(CPACK_COMPONENT_MONITOR_DESCRIPTION "Monitor and command-line tool for two-drive RAID enclosures
raidmon watches external two-drive RAID enclosures (a controller behind a
USB-to-SATA bridge running two SATA drives as RAID0, RAID1, NRAID, JBOD or
Bypass): it reads each controller's status every few seconds, writes every
change into a daily log, mails a notification when a drive or an enclosure
disappears and answers local clients. It comes with a systemd unit.

raidctl lists the enclosures, reads their status, checks them for a
monitoring system, upgrades their firmware, sets the schedule backup,
starts and stops scans and initialises arrays, from a command line.

Neither needs a display or any GUI library.")
# Mail needs libcurl, which is loaded when the first mail goes out (so the
# shared-library scan does not see it); addgroup makes the clients' group.
set(CPACK_DEBIAN_MONITOR_PACKAGE_DEPENDS "libcurl4, adduser")
# The programs came in the package raidgui up to 0.23.1.
set(CPACK_DEBIAN_MONITOR_PACKAGE_BREAKS "raidgui (<< ${RAID_DEB_VERSION})")
set(CPACK_DEBIAN_MONITOR_PACKAGE_REPLACES "raidgui (<< ${RAID_DEB_VERSION})")
set(CPACK_DEBIAN_MONITOR_PACKAGE_CONTROL_EXTRA ${CMAKE_SOURCE_DIR}/packaging/postinst
    ${CMAKE_SOURCE_DIR}/packaging/prerm ${CMAKE_SOURCE_DIR}/packaging/postrm)

set(CPACK_DEBIAN_WINDOW_PACKAGE_NAME raidgui)
set(CPACK_COMPONENT_WINDOW_DESCRIPTION "Manager window for two-drive RAID enclosures
raidgui shows the status of external two-drive RAID enclosures (mode,
capacity, drives, firmware, fan, temperature, rebuild and scan progress)
and their event log, sets up mail notifications, upgrades the firmware and,
in service mode, initialises arrays and sets the schedule backup. The
desktop entry starts it with the rights it needs through pkexec.")
# The window needs a display plugin; the desktop entry starts it through
# pkexec.
set(CPACK_DEBIAN_WINDOW_PACKAGE_DEPENDS "raidmon (= ${RAID_DEB_VERSION}), qt6-qpa-plugins, pkexec")
include(CPack)
