# SPDX-License-Identifier: MIT
# Windows (i686) cross build with MinGW-w64 on Debian: the -posix compilers
# (the default -win32 thread model of GCC 12 has no std::thread), a shared
# libgcc, a static libstdc++ and zlib, and Wine to run the tests.
#
#   cmake --preset mingw-i686, or
#   cmake -S . -B build/mingw-i686 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
#         -DQMDATA_COMPRESSION=zlib -DQMDATA_BUNDLED_GTEST=ON
#
# Needs g++-mingw-w64-i686-posix and libz-mingw-w64-dev (and wine to
# run the tests).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TOOLCHAIN_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# i686 MinGW-w64 unwinds with DWARF-2 tables registered with libgcc. With a
# static libgcc every module (the DLL, each program) has its own unwinder that
# knows only its own frames, and an exception thrown in the DLL terminates the
# caller. So every module links libgcc_s_dw2-1.dll (which imports
# libwinpthread-1.dll); CMakeLists.txt copies both beside libqmdata.dll,
# installs them and exports -shared-libgcc to consumers. libstdc++ stays
# static, as on x86-64: nothing in the interface relies on one shared copy
# (exception types match by name across modules), and it spares shipping
# libstdc++-6.dll, whose name many toolchains share with different ABIs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libstdc++ -shared-libgcc")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libstdc++ -shared-libgcc")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static-libstdc++ -shared-libgcc")

# ctest (and test discovery) run the programs under Wine.
find_program(_wine wine)
if(_wine)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${_wine}")
endif()
