# SPDX-License-Identifier: MIT
# The part of the MinGW-w64 toolchain files that both architectures share;
# included by mingw-i686.cmake and mingw-x86_64.cmake after they set
# CMAKE_SYSTEM_PROCESSOR and TOOLCHAIN_PREFIX.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${TOOLCHAIN_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOOLCHAIN_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TOOLCHAIN_PREFIX}-windres)

# The target root (<bin>/../<triplet>) holds the headers, libz.a and
# libwinpthread.a.
find_program(_mingw_gcc ${TOOLCHAIN_PREFIX}-gcc-posix REQUIRED)
get_filename_component(_mingw_bin "${_mingw_gcc}" DIRECTORY)
get_filename_component(_mingw_root "${_mingw_bin}/../${TOOLCHAIN_PREFIX}" REALPATH)
set(CMAKE_FIND_ROOT_PATH "${_mingw_root}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# A static runtime: the modules import only KERNEL32.dll and msvcrt.dll.
# -static in the shared linker flags too: Threads::Threads appends -lpthread
# after any -Wl,-Bstatic, which would make the DLL import libwinpthread-1.dll.
# mingw-i686.cmake replaces these: its DWARF-2 unwinding needs a shared libgcc.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(ZLIB_USE_STATIC_LIBS ON)
