# Windows (i686) cross build with MinGW-w64 on Debian: the -posix compilers
# (the default -win32 thread model of GCC 12 has no std::thread), a static
# libgcc/libstdc++/winpthread/zlib so that the DLL and the test programs
# import only KERNEL32.dll and msvcrt.dll, and Wine to run the tests.
#
#   cmake -S . -B build/mingw-i686 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
#         -DQMDATA_COMPRESSION=zlib -DQMDATA_BUNDLED_GTEST=ON
#
# Needs g++-mingw-w64-i686-posix and libz-mingw-w64-dev (and wine to
# run the tests).
# Caution: i686 MinGW-w64 unwinds with DWARF-2 tables, and with a static
# libgcc each module (the DLL, every program) carries its own unwinder, which
# knows only its own module's frames. An exception thrown inside the DLL
# (the records' int -1, std::bad_alloc, ...) may then not reach a handler in
# the caller. This host cannot run 32-bit code, so that has not been tried;
# linking libgcc shared (-shared-libgcc, shipping libgcc_s_dw2-1.dll) is the
# remedy if it shows. The x86-64 build unwinds through the system and is
# tested under Wine.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TOOLCHAIN_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# ctest (and test discovery) run the programs under Wine.
find_program(_wine wine)
if(_wine)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${_wine}")
endif()
