#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Valgrind memcheck over the native test suite: builds the library and the
# tests without sanitizers, then runs every test program once, all its tests
# in one process, under memcheck. Any memcheck error (invalid access, use of
# uninitialised memory, bad free, a definite or indirect leak) fails the run.
# Runs as root on Debian 12 in CI and installs what it needs when missing.
#
#   .ci/valgrind.sh [build dir]      (default: build/ci-valgrind)
#
# Environment: JOBS (programs run at once, default 2).
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
OUT=${1:-$ROOT/build/ci-valgrind}
JOBS=${JOBS:-2}

# shellcheck source=.ci/lib.sh
source "$ROOT/.ci/lib.sh"

print_summary() {
  print_step_times valgrind.sh $?
}
trap print_summary EXIT

install() {
  need_packages cmake ninja-build g++ valgrind zlib1g-dev libdeflate-dev libgtest-dev
}

build() {
  # -O1 -g: readable stacks without the cost of -O0 under the emulator.
  timeout 300 cmake -S "$ROOT" -B "$OUT" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_FLAGS="-O1 -g -fno-omit-frame-pointer" \
    -DQMDATA_BUILD_EXAMPLES=OFF >/dev/null
  timeout 1200 cmake --build "$OUT" -j"$JOBS"
}

# Runs one test program under memcheck; its log goes next to it. Some test
# programs replace the global allocation operators to count allocations;
# nouserintercepts keeps memcheck from replacing those replacements (it still
# watches the malloc and free they call).
memcheck_one() {
  local exe=$1 log=$1.memcheck.log rc=0
  (cd "$(dirname "$exe")" &&
    timeout 900 valgrind --tool=memcheck --error-exitcode=99 \
      --leak-check=full --show-leak-kinds=definite,indirect \
      --errors-for-leak-kinds=definite,indirect --fair-sched=try \
      --soname-synonyms=somalloc=nouserintercepts \
      --num-callers=30 --log-file="$log" \
      "$exe" --gtest_brief=1 >"$exe.out" 2>&1) || rc=$?
  local errors
  errors=$(sed -n 's/.*ERROR SUMMARY: \([0-9]*\) errors.*/\1/p' "$log" | tail -1)
  printf '  %-44s exit %3d, %s memcheck errors\n' "$(basename "$exe")" "$rc" "${errors:-?}"
  if [ "$rc" -ne 0 ]; then
    tail -n 40 "$exe.out"
    grep -v '^==[0-9]*== *$' "$log" | head -n 80
    return 1
  fi
}
export -f memcheck_one

run() {
  local programs
  programs=$(find "$OUT/tests" -maxdepth 1 -type f -name '*_test' -perm -u+x | sort)
  [ -n "$programs" ] || { echo "no test programs in $OUT/tests" >&2; return 1; }
  # One memcheck process per program, JOBS at a time; any failure fails all.
  echo "$programs" | xargs -P "$JOBS" -I{} bash -c 'memcheck_one "$1"' _ {}
}

step "install packages" install
step "configure+build" build
step "memcheck test programs" run
