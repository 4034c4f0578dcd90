# Writes the zip and the installer of the Windows program folder (run by the windows_package target):
#   cmake -DPROGRAM_DIR=... -DOUT_DIR=... -DNAME=... -DVERSION=... -DICON=... -DNSI=... -DMAKENSIS=...
#         [-DSTRIP=...] -P WindowsPackage.cmake
# The programs are stripped of their symbols first. The uninstaller's list of files is the program folder
# as packed, so the uninstaller removes exactly what the installer put there.
foreach(var PROGRAM_DIR OUT_DIR NAME VERSION ICON NSI)
    if(NOT ${var})
        message(FATAL_ERROR "WindowsPackage.cmake: ${var} not given")
    endif()
endforeach()
if(NOT MAKENSIS)
    message(FATAL_ERROR "makensis not found: install NSIS (scripts/setup-deps --windows)")
endif()

if(STRIP)
    file(GLOB programs ${PROGRAM_DIR}/*.exe)
    foreach(program IN LISTS programs)
        execute_process(COMMAND ${STRIP} --strip-unneeded ${program} COMMAND_ERROR_IS_FATAL ANY)
    endforeach()
endif()

set(base ${NAME}-${VERSION}-win64)
get_filename_component(folder_name ${PROGRAM_DIR} NAME)
get_filename_component(parent ${PROGRAM_DIR} DIRECTORY)

# The zip holds the program folder itself, so that unpacking it gives one folder.
file(REMOVE ${OUT_DIR}/${base}.zip)
execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf ${OUT_DIR}/${base}.zip --format=zip -- ${folder_name}
                WORKING_DIRECTORY ${parent} COMMAND_ERROR_IS_FATAL ANY)

# The uninstaller's list: every file, then every folder deepest first.
file(GLOB_RECURSE files RELATIVE ${PROGRAM_DIR} LIST_DIRECTORIES false ${PROGRAM_DIR}/*)
file(GLOB_RECURSE dirs RELATIVE ${PROGRAM_DIR} LIST_DIRECTORIES true ${PROGRAM_DIR}/*)
list(SORT files)
set(list_text "")
foreach(file IN LISTS files)
    string(REPLACE "/" "\\" file "${file}")
    string(APPEND list_text "Delete \"$INSTDIR\\${file}\"\n")
endforeach()
set(folders "")
foreach(dir IN LISTS dirs)
    if(IS_DIRECTORY ${PROGRAM_DIR}/${dir})
        list(APPEND folders ${dir})
    endif()
endforeach()
list(SORT folders ORDER DESCENDING)
foreach(dir IN LISTS folders)
    string(REPLACE "/" "\\" dir "${dir}")
    string(APPEND list_text "RMDir \"$INSTDIR\\${dir}\"\n")
endforeach()
set(uninstall_list ${OUT_DIR}/uninstall-files.nsh)
file(WRITE ${uninstall_list} "${list_text}")

file(REMOVE ${OUT_DIR}/${base}-setup.exe)
execute_process(COMMAND ${MAKENSIS} -V2 -NOCD
                        -DZB_VERSION=${VERSION} -DZB_PROGRAM_DIR=${PROGRAM_DIR} -DZB_ICON=${ICON}
                        -DZB_OUTFILE=${OUT_DIR}/${base}-setup.exe -DZB_UNINSTALL_LIST=${uninstall_list}
                        ${NSI}
                RESULT_VARIABLE nsis_result)
if(NOT nsis_result EQUAL 0)
    message(FATAL_ERROR "makensis failed (${nsis_result})")
endif()
file(SIZE ${OUT_DIR}/${base}.zip zip_size)
file(SIZE ${OUT_DIR}/${base}-setup.exe setup_size)
math(EXPR zip_kb "${zip_size} / 1024")
math(EXPR setup_kb "${setup_size} / 1024")
message(STATUS "Windows packages: ${OUT_DIR}/${base}.zip (${zip_kb} KiB), ${OUT_DIR}/${base}-setup.exe (${setup_kb} KiB)")
