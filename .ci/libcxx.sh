#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The whole project built with clang and LLVM's libc++ (-stdlib=libc++)
# instead of libstdc++, with AddressSanitizer and UndefinedBehaviorSanitizer,
# on Debian 12 (run as root in CI; installs what it needs when it is
# missing). The archive reaches into std::streambuf's get and put areas and
# the tests count allocations through replaced global operators: both depend
# on the standard library.
#
#   - every program and library built links libc++ and not libstdc++
#     (GoogleTest too: it is built from Debian's googletest sources with the
#     same flags, since Debian's libgtest is built against libstdc++);
#   - ctest, whose results (every test's name and status) must equal those of
#     the native libstdc++ build of the default preset (same compression
#     backend);
#   - the example's file, byte for byte equal to the libstdc++ build's, and
#     decoded by the Python reader; the records the Python writer makes
#     loaded by the libc++ build.
#
# ASan and UBSan work with Debian's libc++ 14 (container-overflow checks
# included); LeakSanitizer is on.
#
#   .ci/libcxx.sh
#
# Environment: QMDATA_LIBCXX_DIR (build root, default build/ci-libcxx), JOBS
# (default 2). Anything that cannot run here fails the script; nothing is
# skipped.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
OUT=${QMDATA_LIBCXX_DIR:-$ROOT/build/ci-libcxx}
JOBS=${JOBS:-2}
SAN="-fsanitize=address,undefined -fno-sanitize-recover=all"

# shellcheck source=.ci/lib.sh
source "$ROOT/.ci/lib.sh"
trap 'print_step_times libcxx.sh $?' EXIT

install_packages() {
  need_packages cmake ninja-build g++ clang libc++-dev libc++abi-dev \
    libclang-rt-14-dev googletest pkg-config zlib1g-dev libdeflate-dev \
    libgtest-dev file
}

# Says what is wrong with a file that does not need libc++, or needs
# libstdc++.
uses_libcxx() {
  local needed
  needed=$(readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
  if ! grep -q '^libc++\.so' <<<"$needed" || grep -q '^libstdc++' <<<"$needed"; then
    echo "  $1 needs: ${needed//$'\n'/ }" >&2
    return 1
  fi
}

build_libcxx() {
  local b=$OUT/build
  timeout 300 cmake -S "$ROOT" -B "$b" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_CXX_FLAGS="-stdlib=libc++ -O1 $SAN -fno-omit-frame-pointer" \
    -DCMAKE_EXE_LINKER_FLAGS="-stdlib=libc++ $SAN" \
    -DCMAKE_SHARED_LINKER_FLAGS="-stdlib=libc++ $SAN" \
    -DQMDATA_BUNDLED_GTEST=ON >/dev/null
  cmake --build "$b" -j"$JOBS"
  each_elf "$b" "each linked with libc++ and not libstdc++" uses_libcxx
}

# The example's file equals the libstdc++ build's byte for byte (the same
# compression backend) and the Python reader decodes it; the records the
# Python writer makes load (or are refused) under libc++ and the sanitizers.
example_files() {
  local work=$OUT/example exe
  rm -rf "$work" && mkdir -p "$work"
  exe=$(program "$ROOT/build/default" qmdata_example)
  "$exe" "$work/libstdcxx.bin" >/dev/null
  exe=$(program "$OUT/build" qmdata_example)
  "$exe" "$work/libcxx.bin" | sed 's/^/  libc++: /'
  echo "  cmp libstdcxx.bin libcxx.bin:"
  cmp "$work/libstdcxx.bin" "$work/libcxx.bin"
  echo "  (no output: the files are equal, $(stat -c %s "$work/libcxx.bin") bytes)"
  python3 "$ROOT/python/crosscheck.py" decode "$ROOT/tests/data" "$work/libcxx.bin"
  exe=$(program "$OUT/build" crosscheck_test)
  crosscheck_cases "$work/cases" timeout 600 "$exe"
}

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
mkdir -p "$OUT"
step -t 900 "libc++: install packages" install_packages
# The libstdc++ reference: the default preset, built only when CI's first
# step has not built it yet.
step -t 1200 "libc++: libstdc++ reference build" build_preset default
step -t 600 "libc++: libstdc++ reference ctest" \
  ctest_listed libstdc++: "$OUT/libstdcxx-results" --preset default -j"$JOBS"
step -t 1500 "libc++: build (ASan+UBSan)" build_libcxx
step -t 1500 "libc++: ctest (ASan+UBSan)" \
  ctest_listed "libc++:   " "$OUT/libcxx-results" --test-dir "$OUT/build" \
  -j"$JOBS" --timeout 900 --output-on-failure
# The same tests with the same outcomes (a skip included) as with libstdc++.
step -t 60 "libc++: compare with libstdc++" \
  same_results "$OUT/libstdcxx-results" "$OUT/libcxx-results" libc++
step -t 900 "libc++: example file, cross-check" example_files
