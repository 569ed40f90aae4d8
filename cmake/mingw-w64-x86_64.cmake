# Cross-build for 64-bit Windows with Debian's MinGW-w64 (g++-mingw-w64-x86-64).
#
# The posix thread model of the compiler is the one whose C++ library has
# std::thread and std::mutex, which the core uses. Programs are linked
# statically, so that each .exe runs alone, on Windows and under Wine, without
# the compiler's runtime DLLs beside it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(GPS_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${GPS_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${GPS_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${GPS_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${GPS_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Tests of the cross build run under Wine. The loader is not on PATH in
# Debian's wine64 package; GPS_WINE overrides where it is.
if(NOT GPS_WINE)
  find_program(GPS_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
endif()
if(GPS_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${GPS_WINE})
endif()
