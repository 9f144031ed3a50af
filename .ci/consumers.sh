#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The consumer programs (tests/consumer) against qmdata as a user's project
# gets it: shared install, static installs with libdeflate and with zlib
# (BUILD_TESTING=OFF builds no test), add_subdirectory with no build type,
# FetchContent from HEAD; with the installs, the mistakes that must not
# compile (g++ and clang++). Every way runs; any failure fails.
#   .ci/consumers.sh [scratch dir]
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
work=${1:-$src/build/consumers}
# shellcheck source=.ci/lib.sh
. .ci/lib.sh
need_packages cmake ninja-build g++ clang pkg-config zlib1g-dev libdeflate-dev git
rm -rf "$work" && mkdir -p "$work"

installed() {  # NAME BACKEND CMAKE-ARGS...: build, install and consume
  local name=$1 backend=$2 dir=$work/$1
  shift 2
  cmake -S "$src" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DBUILD_TESTING=OFF -DQMDATA_BUILD_EXAMPLES=OFF \
    -DQMDATA_COMPRESSION="$backend" "$@" >"$dir.log"
  cmake --build "$dir" -j2 >>"$dir.log"
  [ -z "$(find "$dir" -name '*_test' -type f)" ] ||
    { echo "$name: test programs were built with BUILD_TESTING=OFF" >&2; return 1; }
  cmake --install "$dir" --prefix "$dir-prefix" >>"$dir.log"
  # The exported link interface names targets, not this machine's paths.
  ! grep -rq 'libdeflate\.\|libz\.' "$dir-prefix"/lib*/cmake/qmdata/qmdataTargets*.cmake ||
    { echo "$name: the exported targets hold a library path" >&2; return 1; }
  tests/consumer/run.sh "$dir-prefix" "$dir-consumer" | tee "$dir-consumer.out"
  grep -q "compression backend: $backend" "$dir-consumer.out"
}

# With no build type, qmdata's own sources compile with the Release flags.
untyped_subdirectory() {
  tests/consumer/run.sh --subdirectory "$src" "$work/subdirectory" -DBUILD_SHARED_LIBS=OFF
  grep -q -- "-O3 -DNDEBUG .*vector\.cpp" <<<"$(ninja -C "$work/subdirectory/cmake" -t commands qmdata)" ||
    { echo "add_subdirectory: qmdata compiled without the Release flags" >&2; return 1; }
}

STEP_KEEP_GOING=1
step "shared install" installed shared libdeflate -DBUILD_SHARED_LIBS=ON
step "static install, libdeflate" installed static-libdeflate libdeflate -DBUILD_SHARED_LIBS=OFF
step "static install, zlib" installed static-zlib zlib -DBUILD_SHARED_LIBS=OFF
step "add_subdirectory (static, no build type)" untyped_subdirectory
step "FetchContent (shared)" tests/consumer/run.sh --fetchcontent "$src" \
  "$work/fetchcontent" -DCMAKE_BUILD_TYPE=Release
rc=$((STEP_FAILURES > 0))
print_step_times consumers "$rc"
exit "$rc"
