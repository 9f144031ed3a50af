# SPDX-License-Identifier: MIT
# 64-bit IBM Z (s390x, big-endian) Linux on an x86-64 Debian host, with
# Debian's cross compiler (the packages behind g++-s390x-linux-gnu) and the
# s390x zlib and libdeflate, all unpacked with dpkg -x into one private root
# that is the compiler's sysroot. `.ci/targets.sh s390x` makes the root
# (build/s390x-root); see there why nothing is installed through apt. The
# programs run under qemu-user.
#
#   cmake --preset s390x     (or -DCMAKE_TOOLCHAIN_FILE=cmake/linux-s390x.cmake
#         -DQMDATA_S390X_ROOT=<root> -DQMDATA_BUNDLED_GTEST=ON
#         -DQMDATA_COMPRESSION=zlib)
#
# GoogleTest comes from Debian's googletest sources (QMDATA_BUNDLED_GTEST).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR s390x)

# The toolchain file is read again for every try_compile, which sees only
# the variables passed on below.
set(QMDATA_S390X_ROOT "$ENV{QMDATA_S390X_ROOT}" CACHE PATH
  "Directory where the s390x compiler and libraries are unpacked (dpkg -x)")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QMDATA_S390X_ROOT)
if(NOT EXISTS "${QMDATA_S390X_ROOT}/usr/bin/s390x-linux-gnu-g++-12")
  message(FATAL_ERROR "QMDATA_S390X_ROOT ('${QMDATA_S390X_ROOT}') holds no "
    "usr/bin/s390x-linux-gnu-g++-12: make it with .ci/targets.sh s390x")
endif()

# The compiler finds its own parts relative to where it lies; as the sysroot,
# the root also holds the absolute paths of the C library's linker script
# (/usr/s390x-linux-gnu/lib/libc.so.6) and the libraries' /usr/include and
# /usr/lib/s390x-linux-gnu. Nothing comes from the host's /usr.
set(CMAKE_C_COMPILER "${QMDATA_S390X_ROOT}/usr/bin/s390x-linux-gnu-gcc-12")
set(CMAKE_CXX_COMPILER "${QMDATA_S390X_ROOT}/usr/bin/s390x-linux-gnu-g++-12")
set(CMAKE_SYSROOT "${QMDATA_S390X_ROOT}")
set(CMAKE_LIBRARY_ARCHITECTURE s390x-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The programs in the build tree find libz.so.1 (in lib/) and libdeflate.so.0
# (in usr/lib/) without LD_LIBRARY_PATH, and the linker finds them there as
# the libraries' own dependencies.
set(CMAKE_BUILD_RPATH "${QMDATA_S390X_ROOT}/lib/s390x-linux-gnu"
  "${QMDATA_S390X_ROOT}/usr/lib/s390x-linux-gnu")

# ctest and test discovery run the programs under qemu-user (qemu-user-static
# or qemu-user); -L is the guest's root for the loader, libc and libstdc++.
# The emulator goes to the cache, where scripts find it (.ci/targets.sh).
find_program(QMDATA_QEMU_S390X NAMES qemu-s390x-static qemu-s390x)
if(QMDATA_QEMU_S390X)
  set(CMAKE_CROSSCOMPILING_EMULATOR
    "${QMDATA_QEMU_S390X};-L;${QMDATA_S390X_ROOT}/usr/s390x-linux-gnu"
    CACHE STRING "What runs the s390x programs" FORCE)
endif()
