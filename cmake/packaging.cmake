# The Debian package: the three programs, the raidmon unit, the desktop
# entry with its icons and polkit policy, and the documentation.
# scripts/package.sh builds it; scripts/test-package-install.sh installs it
# into a clean Debian 12 root.
include(GNUInstallDirs)

install(TARGETS raidgui raidmon raidctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_SOURCE_DIR}/packaging/raidmon.service DESTINATION lib/systemd/system)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/raidgui.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/org.raidgui.raidgui.policy
        DESTINATION ${CMAKE_INSTALL_DATADIR}/polkit-1/actions)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/docs/design.md ${CMAKE_SOURCE_DIR}/docs/simulator.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY ${CMAKE_SOURCE_DIR}/scenarios/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/scenarios)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs/monitoring/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/monitoring)

# The icons, drawn by the program's own code in the usual sizes.
set(RAID_ICON_DIR ${CMAKE_BINARY_DIR}/icons)
add_custom_command(OUTPUT ${RAID_ICON_DIR}/48x48/apps/raidgui.png
  COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen $<TARGET_FILE:raidgui_icons> ${RAID_ICON_DIR}
  DEPENDS raidgui_icons COMMENT "Drawing the program's icons")
add_custom_target(raidgui_icon_files ALL DEPENDS ${RAID_ICON_DIR}/48x48/apps/raidgui.png)
install(DIRECTORY ${RAID_ICON_DIR}/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME raidgui)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "RAID GUI maintainers <raidgui@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Manager and monitor for two-drive RAID enclosures")
set(CPACK_PACKAGE_DESCRIPTION "raidgui (the window), raidmon (the headless monitor, with a systemd unit) and\n raidctl (the command line, with a monitoring-plugin check) for external two-drive\n RAID enclosures: status, event logs, firmware upgrade and mail notifications.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window needs a display plugin, and mail needs libcurl, which is loaded
# when the first mail goes out (so the shared-library scan does not see it).
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libcurl4")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "policykit-1 | pkexec")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_SOURCE_DIR}/packaging/postinst ${CMAKE_SOURCE_DIR}/packaging/prerm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
