# Install layout and the Debian package.
#
# cmake --install puts the programs into bin, the help page into the documentation folder, and the
# desktop entry, icons, AppStream metadata and manual pages into their usual places under share.
# An installed program keeps its settings in the user's configuration folder (platform/Folders.cpp
# recognises the layout by the desktop entry beside its bin folder).
include(GNUInstallDirs)

set(ZB_PACKAGE_NAME zindle-beacon-setup)
set(ZB_APP_ID org.example.ZindleBeaconSetup)
set(ZB_INSTALL_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/${ZB_PACKAGE_NAME})

# The programs that are installed: a new program is one more name here.
set(ZB_INSTALLED_PROGRAMS ZBeacon zbeacon-cli zbeacon-sim)

install(TARGETS ${ZB_INSTALLED_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_SOURCE_DIR}/docs/zbeacon.html DESTINATION ${ZB_INSTALL_DOCDIR})
file(GLOB ZB_MANUAL_PAGES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/docs/*.1)
install(FILES ${ZB_MANUAL_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_SOURCE_DIR}/data/${ZB_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/data/${ZB_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${CMAKE_SOURCE_DIR}/data/${ZB_APP_ID}.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# Bitmap icons for menus that do not draw SVG, rendered when rsvg-convert is there.
find_program(ZB_RSVG_CONVERT rsvg-convert)
if(ZB_RSVG_CONVERT)
    set(icon_files)
    foreach(size 16 24 32 48 64 128 256)
        set(png ${CMAKE_BINARY_DIR}/icons/${size}x${size}/${ZB_APP_ID}.png)
        add_custom_command(OUTPUT ${png}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/icons/${size}x${size}
            COMMAND ${ZB_RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${CMAKE_SOURCE_DIR}/data/${ZB_APP_ID}.svg
            DEPENDS ${CMAKE_SOURCE_DIR}/data/${ZB_APP_ID}.svg
            VERBATIM)
        list(APPEND icon_files ${png})
        install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
    endforeach()
    add_custom_target(zbeacon_icons ALL DEPENDS ${icon_files})
else()
    message(STATUS "rsvg-convert not found: only the scalable icon is installed")
endif()

# The program looks for its install layout with the same folders.
set_property(SOURCE ${CMAKE_SOURCE_DIR}/platform/Folders.cpp APPEND PROPERTY COMPILE_DEFINITIONS
    ZB_INSTALL_BINDIR="${CMAKE_INSTALL_BINDIR}"
    ZB_INSTALL_DATADIR="${CMAKE_INSTALL_DATADIR}"
    ZB_INSTALL_DOCDIR="${ZB_INSTALL_DOCDIR}"
    ZB_DESKTOP_ID="${ZB_APP_ID}")

# Debian package (make package): dependencies from the programs' libraries, plus the Qt platform
# plugins, the fonts with the designed metrics and the desktop's document opener (Help).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${ZB_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Zindle Beacon Setup developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "setup tool for the Zindle Morse-code radio beacon")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"setup tool for the Zindle Morse-code radio beacon
 The Zindle Beacon is a small keyer that sends one stored message in Morse
 code again and again. With this tool you write that message as the beacon's
 command string, see it decoded line by line, keep it in plain text files,
 and read, program and verify the beacon over a serial port. For the
 GPS-synchronized beacon it also sets the transmit slots of the two-minute
 cycle.
 .
 The package also holds zbeacon-cli, which reads, programs and verifies the
 beacon from a terminal, and zbeacon-sim, a simulated beacon on a
 pseudo-terminal for trying the tools without hardware.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Zindle Beacon Setup developers <maintainers@zindle-beacon.example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION hamradio)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://zindle-beacon.example.org")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-liberation2, xdg-utils")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
