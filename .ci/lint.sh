#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Static checks of the library (build trees build/lint-*): GCC and clang with
# the strict warnings as errors, clang-tidy (.clang-tidy), cppcheck over src/.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
# shellcheck source=.ci/lib.sh
source .ci/lib.sh
trap 'print_step_times lint.sh $?' EXIT
need_packages cmake ninja-build g++ clang clang-tidy cppcheck pkg-config \
  zlib1g-dev libdeflate-dev

strict_build() {  # strict_build DIR CXX
  cmake -S . -B "$1" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER="$2" -DQMDATA_STRICT_WARNINGS=ON \
    -DQMDATA_BUILD_TESTS=OFF -DQMDATA_BUILD_EXAMPLES=OFF \
    -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
  cmake --build "$1" --target qmdata
}

tidy() {  # every library source in the clang build's compile database
  local files
  mapfile -t files < <(sed -n 's/^ *"file": "\(.*\/src\/.*\.cpp\)",*$/\1/p' \
    build/lint-clang/compile_commands.json | sort -u)
  echo "clang-tidy: ${#files[@]} files"
  local f rc=0
  for f in "${files[@]}"; do clang-tidy -p build/lint-clang --quiet "$f" 2>/dev/null || rc=1; done
  return $rc
}

cppcheck_src() {
  cppcheck --enable=warning,style,performance,portability --std=c++20 \
    --inline-suppr --error-exitcode=1 --quiet -I include -I src \
    --suppress=missingIncludeSystem src
}

step "strict warnings, g++" strict_build build/lint-gcc g++
step "strict warnings, clang++" strict_build build/lint-clang clang++
step clang-tidy tidy
step cppcheck cppcheck_src
