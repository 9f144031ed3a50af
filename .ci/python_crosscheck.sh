#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The Python reader and writer (python/qmdata_format.py) against the C++
# library (tests/crosscheck_test.cc): fixtures, the example's file, records
# Python writes, damaged ones refused with the same offset and cause. Then
# qmdata-dump, installed offline into a venv: dump, --version, --guess, --plot.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
source "$ROOT/.ci/lib.sh"
need_packages python3 python3-venv python3-setuptools python3-wheel python3-matplotlib cmake ninja-build g++ zlib1g-dev libdeflate-dev libgtest-dev

BUILD=$ROOT/build/default
WORK=$ROOT/build/python-crosscheck
rm -rf "$WORK" && mkdir -p "$WORK"
cmake --preset default >/dev/null
cmake --build --preset default --target qmdata_example crosscheck_test

"$BUILD/examples/qmdata_example" "$WORK/example.bin" >/dev/null
python3 python/crosscheck.py decode tests/data "$WORK/example.bin"
python3 python/qmdata_format.py --records slice,vector:z,qualtag \
  "$WORK/example.bin" >"$WORK/example.json"
crosscheck_cases "$WORK/cases" "$BUILD/tests/crosscheck_test" --gtest_brief=1

# Debian's python3 (a pyenv one may come first on PATH): its venv sees the
# setuptools and wheel installed above, so pip builds with no network.
VENV=$WORK/venv
/usr/bin/python3 -m venv --system-site-packages "$VENV"
"$VENV/bin/pip" install -q --no-index --no-build-isolation ./python
DUMP=("$VENV/bin/qmdata-dump" --records "slice,vector:z,qualtag")
expect_status() { # N FILE ARG...: qmdata-dump exits with status N
  local want=$1 file=$2 rc=0 && shift 2 && "${DUMP[@]}" "$@" "$file" >/dev/null || rc=$?
  [ "$rc" = "$want" ] || { echo "qmdata-dump $* $file: exit $rc, not $want" >&2; return 1; }
}
"${DUMP[@]}" --summary "$WORK/example.bin"
"${DUMP[@]}" --strict --pretty "$WORK/example.bin" >"$WORK/example-pretty.json"
{ cat "$WORK/example.bin" && printf xy; } >"$WORK/example-xy.bin"
# Bytes after the last record are left, as the library leaves them.
expect_status 0 "$WORK/example-xy.bin"
expect_status 1 "$WORK/example-xy.bin" --strict
expect_status 2 "$WORK/missing.bin"
"$VENV/bin/qmdata-dump" --version | grep -qx "qmdata-dump $(sed -n 's/^__version__ = "\(.*\)"/\1/p' python/qmdata_format.py)"
"$VENV/bin/qmdata-dump" --guess "$WORK/example.bin" | tee "$WORK/guess.txt"
sed -n 2p "$WORK/guess.txt" | grep -qx '  --records slice,vector:z,qualtag'
expect_status 1 "$WORK/example-xy.bin" --guess # no order reads the last 2 bytes
"$VENV/bin/qmdata-dump" --plot "$WORK/example.png" "$WORK/example.bin"
[ "$(head -c 8 "$WORK/example.png" | od -An -tx1 | tr -d ' ')" = 89504e470d0a1a0a ]
[ "$(stat -c %s "$WORK/example.png")" -gt 20000 ]
# Without matplotlib (-S: no site packages), one line and exit status 2.
rc=0 && /usr/bin/python3 -S python/qmdata_format.py --plot "$WORK/none.png" "$WORK/example.bin" 2>"$WORK/none.txt" || rc=$?
[ "$rc" = 2 ] || exit 1
[ "$(wc -l <"$WORK/none.txt")" = 1 ]
echo "crosscheck: qmdata-dump installed and run"
