#!/usr/bin/env bash
# The Python reader and writer (python/qmdata_format.py) against the C++
# library: decodes every fixture and the round-trip example's file; writes
# records with Python's zlib (levels 0, 1 and 9, a multi-block stream) and
# damaged records, which the C++ loaders must load equal or refuse
# (tests/crosscheck_test.cc). Builds the default preset when needed.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
source "$ROOT/.ci/lib.sh"
need_packages python3 cmake ninja-build g++ zlib1g-dev libdeflate-dev libgtest-dev

BUILD=$ROOT/build/default
WORK=$ROOT/build/python-crosscheck
rm -rf "$WORK" && mkdir -p "$WORK"
cmake --preset default >/dev/null
cmake --build --preset default --target qmdata_example crosscheck_test

"$BUILD/examples/qmdata_example" "$WORK/example.bin" >/dev/null
python3 python/crosscheck.py decode tests/data "$WORK/example.bin"
python3 python/qmdata_format.py --records slice,vector:z,qualtag \
  "$WORK/example.bin" >"$WORK/example.json"
python3 python/crosscheck.py write "$WORK/cases"
QMDATA_CROSSCHECK_DIR="$WORK/cases" "$BUILD/tests/crosscheck_test" \
  --gtest_brief=1
