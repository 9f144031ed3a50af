# 64-bit IBM Z (s390x, big-endian) Linux on an x86-64 Debian host: Debian's
# cross compiler (g++-s390x-linux-gnu, whose libc and libstdc++ live in
# /usr/s390x-linux-gnu) and a private sysroot holding the s390x zlib and
# libdeflate packages unpacked with dpkg -x (see .ci/s390x.sh: installing
# them through multiarch can fail on a version skew with the host's zlib1g).
# The programs run under qemu-user.
#
#   cmake -S . -B build/s390x -DCMAKE_TOOLCHAIN_FILE=cmake/linux-s390x.cmake \
#         -DQMDATA_S390X_SYSROOT=<dir> -DQMDATA_BUNDLED_GTEST=ON \
#         -DQMDATA_COMPRESSION=zlib
#
# GoogleTest comes from Debian's googletest sources (QMDATA_BUNDLED_GTEST).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(CMAKE_C_COMPILER s390x-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER s390x-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE s390x-linux-gnu)

# The toolchain file is read again for every try_compile, which sees only
# the variables passed on below.
set(QMDATA_S390X_SYSROOT "$ENV{QMDATA_S390X_SYSROOT}" CACHE PATH
  "Directory where the s390x library packages are unpacked (dpkg -x)")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QMDATA_S390X_SYSROOT)
if(NOT IS_DIRECTORY "${QMDATA_S390X_SYSROOT}/usr/include")
  message(FATAL_ERROR "QMDATA_S390X_SYSROOT ('${QMDATA_S390X_SYSROOT}') holds "
    "no usr/include: unpack zlib1g and zlib1g-dev for s390x there")
endif()

# Libraries, headers and packages come only from the cross compiler's root and
# the sysroot, never from the host's /usr.
set(CMAKE_FIND_ROOT_PATH /usr/s390x-linux-gnu "${QMDATA_S390X_SYSROOT}/usr")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The programs in the build tree find the sysroot's libz.so.1 (in lib/) and
# libdeflate.so.0 (in usr/lib/) without LD_LIBRARY_PATH, and the linker finds
# them there as the libraries' own dependencies.
set(CMAKE_BUILD_RPATH "${QMDATA_S390X_SYSROOT}/lib/s390x-linux-gnu"
  "${QMDATA_S390X_SYSROOT}/usr/lib/s390x-linux-gnu")

# ctest and test discovery run the programs under qemu-user (qemu-user-static
# or qemu-user); -L is the guest's root for the loader, libc and libstdc++.
find_program(QMDATA_QEMU_S390X NAMES qemu-s390x-static qemu-s390x)
if(QMDATA_QEMU_S390X)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${QMDATA_QEMU_S390X};-L;/usr/s390x-linux-gnu")
endif()
