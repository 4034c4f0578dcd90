# The Windows build (`make windows`, cross-built with MinGW-w64 against the cross-built Qt): the program
# folder, its zip and its installer.
#
# build-windows/ZindleBeaconSetup/ is the program folder as the operator gets it: ZBeacon.exe and
# zbeacon-cli.exe, the help page, the copyright notice, the Qt and MinGW run-time libraries and the Qt
# plugins (platforms/, styles/). Run from there (or from the zip), the program is a portable copy and
# keeps its settings beside itself; installed with the installer (which writes Uninstall.exe beside it),
# it keeps them in the operator's application-data folders. The package target writes
# zindle-beacon-setup-<version>-win64.zip and zindle-beacon-setup-<version>-win64-setup.exe.
set(ZB_PACKAGE_NAME zindle-beacon-setup)
set(ZB_APP_ID org.example.ZindleBeaconSetup)
set(ZB_WINDOWS_PROGRAM_DIR ${CMAKE_BINARY_DIR}/ZindleBeaconSetup)
set_target_properties(ZBeacon zbeacon-cli PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${ZB_WINDOWS_PROGRAM_DIR})
# The window is a GUI program (no console window of its own); the tool is a console program.
set_target_properties(ZBeacon PROPERTIES WIN32_EXECUTABLE ON)
# The run-time libraries are shipped beside the programs; static libgcc would not spare them, since Qt's
# own libraries need them.

# The icon: the scalable drawing rendered at the sizes Windows asks for, packed into one icon file that the
# programs carry as a resource (Explorer, the taskbar and the Start-menu entry show it); the window uses
# the same images.
find_program(ZB_RSVG_CONVERT rsvg-convert REQUIRED)
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(icon_files)
foreach(size 16 24 32 48 64 128 256)
    set(png ${CMAKE_BINARY_DIR}/icons/${size}x${size}/${ZB_APP_ID}.png)
    add_custom_command(OUTPUT ${png}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/icons/${size}x${size}
        COMMAND ${ZB_RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${CMAKE_SOURCE_DIR}/data/${ZB_APP_ID}.svg
        DEPENDS ${CMAKE_SOURCE_DIR}/data/${ZB_APP_ID}.svg
        VERBATIM)
    list(APPEND icon_files ${png})
endforeach()
set(ZB_WINDOWS_ICO ${CMAKE_BINARY_DIR}/icons/zbeacon.ico)
add_custom_command(OUTPUT ${ZB_WINDOWS_ICO}
    COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/scripts/make-ico ${ZB_WINDOWS_ICO} ${icon_files}
    DEPENDS ${icon_files} ${CMAKE_SOURCE_DIR}/scripts/make-ico
    VERBATIM)
add_custom_target(zbeacon_icons DEPENDS ${ZB_WINDOWS_ICO})

foreach(program IN ITEMS ZBeacon zbeacon-cli)
    if(program STREQUAL "ZBeacon")
        set(ZB_FILE_DESCRIPTION "Zindle Beacon Setup")
    else()
        set(ZB_FILE_DESCRIPTION "Zindle Beacon Setup command-line tool")
    endif()
    set(ZB_INTERNAL_NAME ${program})
    set(rc ${CMAKE_BINARY_DIR}/resources/${program}.rc)
    configure_file(${CMAKE_SOURCE_DIR}/data/windows/zbeacon.rc.in ${rc} @ONLY)
    set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${ZB_WINDOWS_ICO})
    target_sources(${program} PRIVATE ${rc})
    add_dependencies(${program} zbeacon_icons)
endforeach()

# The run-time libraries and plugins, copied into the program folder so that the programs run from there.
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libstdc++-6.dll
                OUTPUT_VARIABLE zb_libstdcxx OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libgcc_s_seh-1.dll
                OUTPUT_VARIABLE zb_libgcc OUTPUT_STRIP_TRAILING_WHITESPACE)
find_file(zb_libwinpthread libwinpthread-1.dll
          PATHS /usr/${ZB_MINGW_TRIPLE}/lib /usr/${ZB_MINGW_TRIPLE}/bin NO_DEFAULT_PATH REQUIRED)
foreach(dll IN ITEMS zb_libstdcxx zb_libgcc)
    if(NOT IS_ABSOLUTE "${${dll}}" OR NOT EXISTS "${${dll}}")
        message(FATAL_ERROR "MinGW run-time library not found: ${${dll}}")
    endif()
endforeach()
set(ZB_WINDOWS_RUNTIME_DLLS ${zb_libstdcxx} ${zb_libgcc} ${zb_libwinpthread})

add_custom_target(windows_runtime ALL
    COMMAND ${CMAKE_COMMAND} -E make_directory ${ZB_WINDOWS_PROGRAM_DIR}/platforms ${ZB_WINDOWS_PROGRAM_DIR}/styles
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${ZB_WINDOWS_RUNTIME_DLLS}
            $<TARGET_FILE:Qt6::Core> $<TARGET_FILE:Qt6::Gui> $<TARGET_FILE:Qt6::Widgets> ${ZB_WINDOWS_PROGRAM_DIR}
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:Qt6::QWindowsIntegrationPlugin>
            ${ZB_WINDOWS_PROGRAM_DIR}/platforms
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:Qt6::QWindowsVistaStylePlugin>
            ${ZB_WINDOWS_PROGRAM_DIR}/styles
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${CMAKE_SOURCE_DIR}/data/copyright
            ${ZB_WINDOWS_PROGRAM_DIR}/copyright.txt
    VERBATIM)

# The zip and the installer of the program folder.
find_program(ZB_MAKENSIS makensis)
find_program(ZB_MINGW_STRIP ${ZB_MINGW_TRIPLE}-strip)
add_custom_target(windows_package
    COMMAND ${CMAKE_COMMAND} -DPROGRAM_DIR=${ZB_WINDOWS_PROGRAM_DIR} -DOUT_DIR=${CMAKE_BINARY_DIR}
            -DNAME=${ZB_PACKAGE_NAME} -DVERSION=${PROJECT_VERSION} -DICON=${ZB_WINDOWS_ICO}
            -DNSI=${CMAKE_SOURCE_DIR}/data/windows/installer.nsi -DMAKENSIS=${ZB_MAKENSIS}
            -DSTRIP=${ZB_MINGW_STRIP} -P ${CMAKE_SOURCE_DIR}/cmake/WindowsPackage.cmake
    DEPENDS ZBeacon zbeacon-cli windows_runtime
    VERBATIM)
