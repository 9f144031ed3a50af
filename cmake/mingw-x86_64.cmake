# Windows (x86_64) cross build with MinGW-w64 on Debian: the -posix compilers
# (the default -win32 thread model of GCC 12 has no std::thread), a static
# libgcc/libstdc++/winpthread/zlib so that the DLL and the test programs
# import only KERNEL32.dll and msvcrt.dll, and Wine to run the tests.
#
#   cmake -S . -B build/mingw-x86_64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake \
#         -DQMDATA_COMPRESSION=zlib -DQMDATA_BUNDLED_GTEST=ON
#
# Needs g++-mingw-w64-x86-64-posix and libz-mingw-w64-dev (and wine to
# run the tests).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
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

# -static in the shared linker flags too: Threads::Threads appends -lpthread
# after any -Wl,-Bstatic, which would make the DLL import libwinpthread-1.dll.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(ZLIB_USE_STATIC_LIBS ON)

# ctest (and test discovery) run the programs under Wine. The 64-bit loader
# is named directly: Debian's "wine" wrapper prefers the 32-bit one whenever
# wine32 is installed, which cannot start on a host without IA-32 support.
find_program(_wine NAMES wine64 wine PATHS /usr/lib/wine)
if(_wine)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${_wine}")
endif()
