# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 (the POSIX-threads variant, whose C++
# runtime has std::thread and std::mutex). Used by `make windows` and by scripts/build-qt-mingw.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ZB_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ZB_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZB_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${ZB_MINGW_TRIPLE}-windres)
# The cross-built Qt is searched for below CMAKE_PREFIX_PATH; everything else only below the
# MinGW sysroot, never in the host's folders. Programs (moc, rcc, uic) come from the host.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${ZB_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
