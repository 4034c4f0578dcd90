# Install layout and the Debian packages.
#
# cmake --install puts the programs into bin, the help page, the copyright notice and the change log
# into the documentation folders, and the desktop entry, icons, AppStream metadata and (gzipped) manual
# pages into their usual places under share. An installed program keeps its settings in the user's
# configuration folder (platform/FoldersPosix.cpp recognises the layout by the desktop entry, or by the
# command-line tools' documentation folder, beside its bin folder).
#
# Two components, each a Debian package: "gui", the window with its desktop files (package
# zindle-beacon-setup), and "cli", the tools that need no display (package zbeacon-cli), which the
# window's package depends on.
include(GNUInstallDirs)

set(ZB_PACKAGE_NAME zindle-beacon-setup)
set(ZB_CLI_PACKAGE_NAME zbeacon-cli)
set(ZB_APP_ID org.example.ZindleBeaconSetup)
set(ZB_INSTALL_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/${ZB_PACKAGE_NAME})
set(ZB_CLI_INSTALL_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/${ZB_CLI_PACKAGE_NAME})

# The programs that are installed, by component: a new program is one more name here, and its manual
# page docs/<name>.1 goes with it.
set(ZB_GUI_PROGRAMS ZBeacon)
set(ZB_CLI_PROGRAMS zbeacon-cli zbeacon-sim)
set(ZB_INSTALLED_PROGRAMS ${ZB_GUI_PROGRAMS} ${ZB_CLI_PROGRAMS})

# Manual pages and change logs are installed gzipped (without a time stamp in the gzip header, so that
# the same sources give the same files), or as they are where there is no gzip.
find_program(ZB_GZIP gzip)
set(ZB_GZIPPED_FILES)
function(zb_install_gzipped source destination component)
    get_filename_component(name ${source} NAME)
    if(NOT ZB_GZIP)
        install(FILES ${source} DESTINATION ${destination} COMPONENT ${component})
        return()
    endif()
    set(plain ${CMAKE_BINARY_DIR}/gzipped/${component}/${name})
    add_custom_command(OUTPUT ${plain}.gz
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/gzipped/${component}
        COMMAND ${CMAKE_COMMAND} -E copy ${source} ${plain}
        COMMAND ${ZB_GZIP} -9nf ${plain}
        DEPENDS ${source}
        VERBATIM)
    install(FILES ${plain}.gz DESTINATION ${destination} COMPONENT ${component})
    set(ZB_GZIPPED_FILES ${ZB_GZIPPED_FILES} ${plain}.gz PARENT_SCOPE)
endfunction()

foreach(component gui cli)
    string(TOUPPER ${component} upper)
    install(TARGETS ${ZB_${upper}_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${component})
    foreach(program IN LISTS ZB_${upper}_PROGRAMS)
        if(EXISTS ${CMAKE_SOURCE_DIR}/docs/${program}.1)
            zb_install_gzipped(${CMAKE_SOURCE_DIR}/docs/${program}.1 ${CMAKE_INSTALL_MANDIR}/man1 ${component})
        endif()
    endforeach()
endforeach()
# Each package's documentation folder holds the copyright notice and the change log.
install(FILES ${CMAKE_SOURCE_DIR}/data/copyright DESTINATION ${ZB_INSTALL_DOCDIR} COMPONENT gui)
install(FILES ${CMAKE_SOURCE_DIR}/data/copyright DESTINATION ${ZB_CLI_INSTALL_DOCDIR} COMPONENT cli)
zb_install_gzipped(${CMAKE_SOURCE_DIR}/data/changelog ${ZB_INSTALL_DOCDIR} gui)
zb_install_gzipped(${CMAKE_SOURCE_DIR}/data/changelog ${ZB_CLI_INSTALL_DOCDIR} cli)
add_custom_target(zbeacon_gzipped ALL DEPENDS ${ZB_GZIPPED_FILES})

install(FILES ${CMAKE_SOURCE_DIR}/docs/zbeacon.html DESTINATION ${ZB_INSTALL_DOCDIR} COMPONENT gui)
install(FILES ${CMAKE_SOURCE_DIR}/data/${ZB_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
        COMPONENT gui)
install(FILES ${CMAKE_SOURCE_DIR}/data/${ZB_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo
        COMPONENT gui)
install(FILES ${CMAKE_SOURCE_DIR}/data/${ZB_APP_ID}.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT gui)

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
        install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
                COMPONENT gui)
    endforeach()
    add_custom_target(zbeacon_icons ALL DEPENDS ${icon_files})
else()
    message(STATUS "rsvg-convert not found: only the scalable icon is installed")
endif()

# The program looks for its install layout with the same folders.
set_property(SOURCE ${CMAKE_SOURCE_DIR}/platform/FoldersPosix.cpp APPEND PROPERTY COMPILE_DEFINITIONS
    ZB_INSTALL_BINDIR="${CMAKE_INSTALL_BINDIR}"
    ZB_INSTALL_DATADIR="${CMAKE_INSTALL_DATADIR}"
    ZB_INSTALL_DOCDIR="${ZB_INSTALL_DOCDIR}"
    ZB_CLI_INSTALL_DOCDIR="${ZB_CLI_INSTALL_DOCDIR}"
    ZB_DESKTOP_ID="${ZB_APP_ID}")

# What `make build` builds: the programs and everything their install needs, no tests or benchmarks.
add_custom_target(programs)
add_dependencies(programs ${ZB_INSTALLED_PROGRAMS} zbeacon_gzipped)
if(TARGET zbeacon_icons)
    add_dependencies(programs zbeacon_icons)
endif()

# Debian packages (make package), one per component. Their dependencies come from the programs'
# libraries; the window's package adds the Qt platform plugins, the fonts with the designed metrics and
# the command-line package, and recommends the desktop's document opener (only the help uses it).
# Each description's first line is the package's synopsis; CPack indents the rest and turns empty
# lines into paragraph breaks.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${ZB_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Zindle Beacon Setup developers")
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL gui cli)
set(CPACK_COMPONENT_GUI_DEPENDS cli)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_PACKAGE_SOURCE ${ZB_PACKAGE_NAME})

set(CPACK_DEBIAN_GUI_PACKAGE_NAME ${ZB_PACKAGE_NAME})
set(CPACK_DEBIAN_GUI_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-liberation2")
set(CPACK_DEBIAN_GUI_PACKAGE_RECOMMENDS "xdg-utils")
set(CPACK_DEBIAN_GUI_DESCRIPTION
"setup tool for the Zindle Morse-code radio beacon
The Zindle Beacon is a small keyer that sends one stored message in Morse
code again and again. With this tool you write that message as the beacon's
command string, see it decoded line by line, keep it in plain text files,
and read, program and verify the beacon over a serial port. For the
GPS-synchronized beacon it also sets the transmit slots of the two-minute
cycle.

The command-line tool zbeacon-cli comes with it, in a package of its own.")

set(CPACK_DEBIAN_CLI_PACKAGE_NAME ${ZB_CLI_PACKAGE_NAME})
set(CPACK_DEBIAN_CLI_DESCRIPTION
"command-line tool for the Zindle Morse-code radio beacon
zbeacon-cli reads, programs and verifies the Zindle Beacon, a small
Morse-code keyer, over a serial port from a terminal, and checks the
beacon's command files. It needs no display: it suits a small computer at a
remote site reached over SSH, and scripts.

The package also holds zbeacon-sim, a simulated beacon on a pseudo-terminal
for trying the tool without hardware.")

set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Zindle Beacon Setup developers <maintainers@zindle-beacon.example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION hamradio)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://zindle-beacon.example.org")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
