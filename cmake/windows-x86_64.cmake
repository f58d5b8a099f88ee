# Cross-builds for Windows x86-64 with Debian's MinGW-w64 (POSIX threads).
# The libraries come from build-windows/deps/prefix, which
# scripts/setup-windows.sh builds from Debian's source packages; nothing is
# taken from the build machine's own /usr/lib or /usr/include.
#
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/windows-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

if(NOT BT_WINDOWS_PREFIX)
  set(BT_WINDOWS_PREFIX "${CMAKE_CURRENT_LIST_DIR}/../build-windows/deps/prefix")
endif()
get_filename_component(BT_WINDOWS_PREFIX "${BT_WINDOWS_PREFIX}" ABSOLUTE)
# try_compile projects read this file again; they need the same prefix.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES BT_WINDOWS_PREFIX)

set(CMAKE_FIND_ROOT_PATH "${BT_WINDOWS_PREFIX}" /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(ENV{PKG_CONFIG_LIBDIR} "${BT_WINDOWS_PREFIX}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
set(OPENSSL_ROOT_DIR "${BT_WINDOWS_PREFIX}")
set(OPENSSL_USE_STATIC_LIBS TRUE)

# One self-contained .exe: the C++ runtime and the thread library linked in,
# so nothing but Windows' own DLLs is needed beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# CTest runs the test programs through Wine.
find_program(BT_WINE NAMES wine wine64)
if(BT_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${BT_WINE}")
endif()
