# SPDX-License-Identifier: MIT
# 32-bit x86 Linux on an x86-64 Debian host: gcc/g++ with -m32 and the i386
# multiarch libraries (g++-multilib, zlib1g-dev:i386, libgtest-dev:i386).
#
#   cmake -S . -B build/i686 -DCMAKE_TOOLCHAIN_FILE=cmake/linux-i686.cmake
#   (or the preset i386-asan)
#
# Set CMAKE_C_COMPILER/CMAKE_CXX_COMPILER on the command line to use clang.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
if(NOT CMAKE_C_COMPILER)
  set(CMAKE_C_COMPILER gcc)
endif()
if(NOT CMAKE_CXX_COMPILER)
  set(CMAKE_CXX_COMPILER g++)
endif()
# These only seed the default flags: a CMAKE_CXX_FLAGS or linker flags given
# on the command line replace them and must repeat -m32.
set(CMAKE_C_FLAGS_INIT "-m32")
set(CMAKE_CXX_FLAGS_INIT "-m32")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")
# find_package/find_library look in lib/i386-linux-gnu instead of the host's
# lib/x86_64-linux-gnu.
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
# The programs run natively where the kernel runs 32-bit code (the i386
# loader of libc6:i386 starts); elsewhere under qemu-i386 (package qemu-user),
# named in the cache, where scripts find it (.ci/targets.sh).
execute_process(COMMAND /lib/ld-linux.so.2 --version RESULT_VARIABLE _i386_rc
  OUTPUT_QUIET ERROR_QUIET)
if(NOT _i386_rc EQUAL 0)
  find_program(QMDATA_QEMU_I386 qemu-i386)
  if(QMDATA_QEMU_I386)
    set(CMAKE_CROSSCOMPILING_EMULATOR "${QMDATA_QEMU_I386}" CACHE STRING
      "What runs the i386 programs" FORCE)
  endif()
endif()
