#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The whole project built for s390x (64-bit IBM Z, big-endian) with Debian's
# cross compiler and run under qemu-user, on a Debian 12 x86-64 host (run as
# root in CI; installs what it needs when it is missing). The archive format
# is little-endian on every host, so here every byte-order conversion really
# runs:
#
#   - the library, the tests and the example, built with Debian's
#     s390x-linux-gnu-g++-12 (zlib backend, GoogleTest from Debian's
#     googletest sources), every ELF file checked to be big-endian s390x;
#   - ctest under qemu-s390x, whose results (every test's name and status)
#     must equal those of the native x86-64 build of the zlib preset;
#   - the example's file, written under qemu, byte for byte equal to the one
#     the native build writes (cmp), and decoded by the Python reader; the
#     records the Python writer makes loaded by the s390x build.
#
#   .ci/s390x.sh
#
# Nothing for s390x is installed through apt: the cross compiler's packages
# and the s390x zlib and libdeflate are unpacked with dpkg -x into one private
# root ($OUT/root), the compiler's sysroot (cmake/linux-s390x.cmake).
#   - gcc-12-s390x-linux-gnu conflicts with gcc-multilib, which the i386 step
#     of .ci/cross.sh installs: installing either removes the other.
#   - zlib1g:s390x is Multi-Arch: same and must have the host's version; a
#     host zlib1g with a security update whose s390x build the archive does
#     not serve makes apt give up ("held broken packages").
# Adding the s390x architecture to dpkg is still needed for apt-get download
# to see the s390x library packages. In the root, absolute links are made
# relative and the cross binutils get a run path to their own libbfd and
# libopcodes (which the package puts in the host's /usr/lib/x86_64-linux-gnu).
# qemu-user-static and patchelf are installed.
#
# Environment: QMDATA_S390X_DIR (build root, default build/ci-s390x), JOBS
# (default 2). Anything that cannot run here (no emulator, no package) fails
# the script; nothing is skipped.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
OUT=${QMDATA_S390X_DIR:-$ROOT/build/ci-s390x}
JOBS=${JOBS:-2}
S390X_ROOT=$OUT/root
NATIVE=$ROOT/build/zlib  # the zlib preset's build, which CI has made already
# Debian's cross compiler (what g++-s390x-linux-gnu depends on, without the
# sanitizer runtimes), and the s390x libraries the build links.
TOOLCHAIN_DEBS=(cpp-12-s390x-linux-gnu gcc-12-s390x-linux-gnu
  g++-12-s390x-linux-gnu binutils-s390x-linux-gnu libc6-s390x-cross
  libc6-dev-s390x-cross linux-libc-dev-s390x-cross libgcc-s1-s390x-cross
  libgcc-12-dev-s390x-cross libstdc++6-s390x-cross libstdc++-12-dev-s390x-cross
  libatomic1-s390x-cross)
S390X_DEBS=(zlib1g zlib1g-dev libdeflate0 libdeflate-dev)

# shellcheck source=.ci/lib.sh
source "$ROOT/.ci/lib.sh"
trap 'print_step_times s390x.sh $?' EXIT

install_packages() {
  need_foreign_arch s390x
  # What the unpacked compiler and binutils need from the host (g++ and
  # binutils bring it), qemu, and the native reference build's packages.
  need_packages cmake ninja-build g++ binutils libisl23 libmpc3 libmpfr6 \
    libcc1-0 libjansson4 patchelf qemu-user-static googletest zlib1g-dev \
    libdeflate-dev libgtest-dev python3 file
  command -v qemu-s390x-static >/dev/null
}

make_root() {
  local debs=$OUT/debs d l t
  rm -rf "$S390X_ROOT" "$debs"
  mkdir -p "$S390X_ROOT" "$debs"
  # -o APT::Sandbox::User=root: the _apt user may not write to $debs.
  (cd "$debs" && timeout 600 apt-get download -q -o APT::Sandbox::User=root \
    "${TOOLCHAIN_DEBS[@]}" "${S390X_DEBS[@]/%/:s390x}" >/dev/null)
  for d in "$debs"/*.deb; do
    dpkg -x "$d" "$S390X_ROOT"
  done
  echo "  unpacked: $(cd "$debs" && echo *.deb)"
  echo "  $(du -sh "$debs" | cut -f1) of packages"
  # Absolute links (usr/lib/s390x-linux-gnu/libz.so -> /lib/s390x-linux-gnu/
  # libz.so.1.2.13) would point into the host: make them relative.
  while IFS= read -r l; do
    t=$(readlink "$l")
    ln -sfn "$(realpath -m --relative-to="$(dirname "$l")" "$S390X_ROOT$t")" "$l"
  done < <(find "$S390X_ROOT" -type l -lname '/*')
  # The cross binutils load their own libbfd and libopcodes from the host's
  # /usr/lib/x86_64-linux-gnu; here they find them in the root.
  while IFS= read -r l; do
    patchelf --force-rpath --set-rpath "\$ORIGIN/../lib/x86_64-linux-gnu" "$l"
  done < <(find "$S390X_ROOT/usr/bin" -type f -name 's390x-linux-gnu-*' \
    -exec sh -c 'readelf -d "$1" 2>/dev/null | grep -q "NEEDED.*s390x"' _ {} \; -print)
  for l in "$S390X_ROOT"/usr/lib/x86_64-linux-gnu/*s390x.so; do
    patchelf --force-rpath --set-rpath "\$ORIGIN" "$(realpath "$l")"
  done
  "$S390X_ROOT/usr/bin/s390x-linux-gnu-g++-12" --version | sed -n 1p
  "$S390X_ROOT/usr/bin/s390x-linux-gnu-as" --version | sed -n 1p
  file -L "$S390X_ROOT/usr/lib/s390x-linux-gnu/libz.so" | grep -q 'MSB.*S/390'
  file -L "$S390X_ROOT/usr/lib/s390x-linux-gnu/libdeflate.so" | grep -q 'MSB.*S/390'
}

# Says what is wrong with a file that is not a big-endian s390x ELF file.
is_s390x() {
  file -b "$1" | grep -q '^ELF 64-bit MSB .*IBM S/390' ||
    { echo "  not an s390x ELF file: $1: $(file -b "$1")" >&2; return 1; }
}

build_s390x() {
  local b=$OUT/s390x
  timeout 300 cmake -S "$ROOT" -B "$b" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/linux-s390x.cmake" \
    -DQMDATA_S390X_ROOT="$S390X_ROOT" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQMDATA_BUNDLED_GTEST=ON -DQMDATA_COMPRESSION=zlib >/dev/null
  grep -q '^QMDATA_QEMU_S390X:FILEPATH=/' "$b/CMakeCache.txt" ||
    { echo "  no qemu-s390x for CMAKE_CROSSCOMPILING_EMULATOR" >&2; return 1; }
  cmake --build "$b" -j"$JOBS"
  each_elf "$b" "all 64-bit big-endian s390x" is_s390x
}

# The example's file written on s390x equals the x86-64 one byte for byte,
# and the Python reader decodes it.
example_files() {
  local work=$OUT/example exe qemu
  qemu=("$(sed -n 's/^QMDATA_QEMU_S390X:FILEPATH=//p' "$OUT/s390x/CMakeCache.txt")"
    -L "$S390X_ROOT/usr/s390x-linux-gnu")
  rm -rf "$work" && mkdir -p "$work"
  exe=$(program "$NATIVE" qmdata_example)
  "$exe" "$work/x86_64.bin" | sed 's/^/  x86-64: /'
  exe=$(program "$OUT/s390x" qmdata_example)
  timeout 300 "${qemu[@]}" "$exe" "$work/s390x.bin" | sed 's/^/  s390x:  /'
  echo "  cmp x86_64.bin s390x.bin:"
  cmp "$work/x86_64.bin" "$work/s390x.bin"
  echo "  (no output: the files are equal, $(stat -c %s "$work/s390x.bin") bytes)"
  python3 "$ROOT/python/qmdata_format.py" --records slice,vector:z,qualtag \
    "$work/s390x.bin" >"$work/s390x.json"
  echo "  qmdata_format.py read the s390x file: $(stat -c %s "$work/s390x.json") bytes of JSON"
  python3 "$ROOT/python/crosscheck.py" decode "$ROOT/tests/data" "$work/s390x.bin"
  # The records the Python writer makes, loaded (or refused) on s390x.
  exe=$(program "$OUT/s390x" crosscheck_test)
  crosscheck_cases "$work/cases" timeout 600 "${qemu[@]}" "$exe"
}

mkdir -p "$OUT"
step -t 900 "s390x: install packages" install_packages
step -t 600 "s390x: unpack compiler and libs" make_root
# The native x86-64 reference: the zlib preset (RelWithDebInfo, zlib), built
# only when CI's zlib step has not built it yet.
step -t 1200 "s390x: x86-64 build (zlib preset)" build_preset zlib
step -t 600 "s390x: x86-64 ctest (zlib preset)" \
  ctest_listed x86-64: "$OUT/x86_64-results" --preset zlib -j"$JOBS"
step -t 1500 "s390x: configure+build" build_s390x
step -t 1500 "s390x: ctest under qemu-s390x" \
  ctest_listed "s390x: " "$OUT/s390x-results" --test-dir "$OUT/s390x" \
  -j"$JOBS" --timeout 600 --output-on-failure
# The same tests with the same outcomes (a skip included) as on x86-64.
step -t 60 "s390x: compare with x86-64" \
  same_results "$OUT/x86_64-results" "$OUT/s390x-results" s390x
step -t 900 "s390x: example, cmp, Python reader" example_files
