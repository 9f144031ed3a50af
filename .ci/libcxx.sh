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

# The libstdc++ reference: the default preset, built only when CI's first
# step has not built it yet.
build_native() {
  cmake --preset default >/dev/null
  cmake --build --preset default -j"$JOBS"
}

test_native() {
  ctest --preset default -j"$JOBS" --no-tests=error >"$OUT/libstdcxx-ctest.log" 2>&1 ||
    { cat "$OUT/libstdcxx-ctest.log"; return 1; }
  printf '  libstdc++: '
  ctest_results "$OUT/libstdcxx-ctest.log" "$OUT/libstdcxx-results"
}

build_libcxx() {
  local b=$OUT/build f bad=0 n=0 needed
  timeout 300 cmake -S "$ROOT" -B "$b" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_CXX_FLAGS="-stdlib=libc++ -O1 $SAN -fno-omit-frame-pointer" \
    -DCMAKE_EXE_LINKER_FLAGS="-stdlib=libc++ $SAN" \
    -DCMAKE_SHARED_LINKER_FLAGS="-stdlib=libc++ $SAN" \
    -DQMDATA_BUNDLED_GTEST=ON >/dev/null
  timeout 1800 cmake --build "$b" -j"$JOBS"
  # Every program and shared library needs libc++ and not libstdc++.
  while IFS= read -r f; do
    n=$((n + 1))
    needed=$(readelf -d "$f" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
    if ! grep -q '^libc++\.so' <<<"$needed" || grep -q '^libstdc++' <<<"$needed"; then
      echo "  $f needs: ${needed//$'\n'/ }" >&2
      bad=1
    fi
  done < <(elf_files "$b")
  echo "  $n ELF files, each linked with libc++ and not libstdc++"
  if ((n == 0)); then return 1; fi
  return $bad
}

test_libcxx() {
  timeout 1800 ctest --test-dir "$OUT/build" -j"$JOBS" --timeout 900 \
    --no-tests=error --output-on-failure >"$OUT/libcxx-ctest.log" 2>&1 ||
    { cat "$OUT/libcxx-ctest.log"; return 1; }
  printf '  libc++:    '
  ctest_results "$OUT/libcxx-ctest.log" "$OUT/libcxx-results"
}

# The same tests with the same outcomes (a skip included) as with libstdc++.
compare_results() {
  same_results "$OUT/libstdcxx-results" "$OUT/libcxx-results" libc++
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
step -t 1200 "libc++: libstdc++ reference build" build_native
step -t 600 "libc++: libstdc++ reference ctest" test_native
step -t 2400 "libc++: build (ASan+UBSan)" build_libcxx
step -t 1800 "libc++: ctest (ASan+UBSan)" test_libcxx
step -t 60 "libc++: compare with libstdc++" compare_results
step -t 900 "libc++: example file, cross-check" example_files
