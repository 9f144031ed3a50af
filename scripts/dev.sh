#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Developer entry point: installs what the build needs (Debian packages, only
# when missing: as root, or through sudo), then configures, builds and runs.
# CMAKE_BUILD_PARALLEL_LEVEL=N limits the build to N jobs.
#
#   scripts/dev.sh example   build and run the round-trip example
#   scripts/dev.sh test      build and run every unit test
#   scripts/dev.sh bench     build the benchmarks (Release) and run them
#   scripts/dev.sh archive-check PACKAGE TARGET [PREFIX]
#                            the records' conformance check against another
#                            archive library, installed as the CMake package
#                            PACKAGE (below PREFIX) with the target TARGET:
#                            names each member missing, then builds qmdata
#                            against it and reports each member's behaviour
#                            and every record's round trips and failures
set -euo pipefail
cd "$(dirname "$0")/.."

# shellcheck source=.ci/lib.sh
source .ci/lib.sh

# build TARGET...: configures and builds the default preset in build/default.
# The build's output goes to build/default-build.log; a terminal sees one line
# of progress, and a failed build prints the whole log.
build() {
  mkdir -p build
  local log=$PWD/build/default-build.log t0=$SECONDS line
  echo "building in $PWD/build/default (log: $log) ..."
  : >"$log"
  if ! { cmake --preset default && cmake --build --preset default "$@"; } 2>&1 |
    while IFS= read -r line; do
      printf '%s\n' "$line" >>"$log"
      if [ -t 1 ] && [[ $line == \[*/*\]* ]]; then
        printf '\r\033[K  %s' "${line:0:$((${COLUMNS:-80} - 3))}"
      fi
    done; then
    if [ -t 1 ]; then printf '\r\033[K'; fi
    cat "$log"
    echo "build failed after $((SECONDS - t0)) s; the log: $log" >&2
    exit 1
  fi
  if [ -t 1 ]; then printf '\r\033[K'; fi
  echo "built in $((SECONDS - t0)) s"
}

base=(cmake ninja-build g++ pkg-config zlib1g-dev libdeflate-dev)
case "${1:-}" in
  example)
    need_packages "${base[@]}"
    build --target qmdata_example
    # It writes qmdata_roundtrip.bin in build/default and prints its full path.
    cd build/default && ./examples/qmdata_example
    ;;
  test)
    need_packages "${base[@]}" libgtest-dev
    build
    # One line per test goes to the log; the terminal gets the summary, and
    # every failing test's output in full.
    log=$PWD/build/default-test.log
    echo "testing (every test's line: $log) ..."
    rc=0
    ctest --preset default >"$log" 2>&1 || rc=$?
    grep -vE '^ +Start +[0-9]+: |^ *[0-9]+/[0-9]+ Test +#[0-9]+: .* Passed +[0-9.]+ sec$' "$log" |
      cat -s
    exit "$rc"
    ;;
  bench)
    need_packages "${base[@]}" libbenchmark-dev libeigen3-dev libcereal-dev
    cmake --preset release >/dev/null
    cmake --build --preset release
    for b in build/release/bench/*_bench; do "$b"; done
    ;;
  archive-check)
    [ $# -ge 3 ] || { echo "usage: $0 archive-check PACKAGE TARGET [PREFIX]" >&2; exit 2; }
    need_packages "${base[@]}"
    dir=$PWD/build/archive-check-${2//[^A-Za-z0-9_.-]/_}
    log=$dir.log
    mkdir -p build
    echo "checking the archive library $3 (package $2; log: $log) ..."
    rc=0
    cmake -S tests/altarchive/check -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_PREFIX_PATH="${4:-}" -DQMDATA_CHECK_ARCHIVE_PACKAGE="$2" \
      -DQMDATA_CHECK_ARCHIVE_TARGET="$3" >"$log" 2>&1 || rc=$?
    sed -n 's/^-- archive member: /member  /p' "$log"
    if [ $rc -ne 0 ]; then
      sed -n '/^CMake Error/,$p' "$log" >&2
      exit 1
    fi
    cmake --build "$dir" --target archive_check >>"$log" 2>&1 || { cat "$log"; exit 1; }
    "$dir/archive_check"
    ;;
  *)
    echo "usage: $0 example|test|bench|archive-check PACKAGE TARGET [PREFIX]" >&2
    exit 2
    ;;
esac
