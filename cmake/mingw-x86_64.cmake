# SPDX-License-Identifier: MIT
# Windows (x86_64) cross build with MinGW-w64 on Debian: the -posix compilers
# (the default -win32 thread model of GCC 12 has no std::thread), a static
# libgcc/libstdc++/winpthread/zlib so that the DLL and the test programs
# import only KERNEL32.dll and msvcrt.dll (x86-64 unwinds through the
# system's SEH tables, so each module may keep its own libgcc), and Wine to
# run the tests.
#
#   cmake --preset mingw-x86_64, or
#   cmake -S . -B build/mingw-x86_64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake \
#         -DQMDATA_COMPRESSION=zlib -DQMDATA_BUNDLED_GTEST=ON
#
# Needs g++-mingw-w64-x86-64-posix and libz-mingw-w64-dev (and wine to
# run the tests).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# ctest (and test discovery) run the programs under Wine. The 64-bit loader
# is named directly: Debian's "wine" wrapper prefers the 32-bit one whenever
# wine32 is installed, which cannot start on a host without IA-32 support.
find_program(_wine NAMES wine64 wine PATHS /usr/lib/wine)
if(_wine)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${_wine}")
endif()
