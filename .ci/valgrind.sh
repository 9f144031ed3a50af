#!/usr/bin/env bash
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

SUMMARY=()
step() {
  local name=$1
  shift
  local t0=$SECONDS rc=0
  echo "::: ${name}"
  set +e
  (
    set -e
    "$@"
  )
  rc=$?
  set -e
  local dt=$((SECONDS - t0))
  SUMMARY+=("$(printf '%-28s %4ds  %s' "$name" "$dt" "$([ $rc -eq 0 ] && echo ok || echo "FAILED ($rc)")")")
  echo "::: ${name}: ${dt}s, exit ${rc}"
  return $rc
}
print_summary() {
  local rc=$? line
  echo "::: valgrind.sh wall times"
  for line in "${SUMMARY[@]}"; do echo "  $line"; done
  echo "  total                        ${SECONDS}s, exit ${rc}"
}
trap print_summary EXIT

install() {
  local missing=() p
  for p in cmake ninja-build g++ valgrind zlib1g-dev libdeflate-dev libgtest-dev; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
      missing+=("$p")
  done
  ((${#missing[@]})) || return 0
  echo "installing: ${missing[*]}"
  timeout 600 apt-get update -qq
  DEBIAN_FRONTEND=noninteractive timeout 900 apt-get install -y -qq \
    --no-install-recommends "${missing[@]}" >/dev/null
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
