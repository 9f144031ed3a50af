#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The Python reader and writer (python/qmdata_format.py) against the C++
# library (tests/crosscheck_test.cc): fixtures, the example's file, records
# Python writes, damaged ones refused with the same offset and cause. Then
# qmdata-dump, installed by USAGE's recipe: dump, --version, --guess, --plot,
# --write.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
source "$ROOT/.ci/lib.sh"
BUILD=$ROOT/build/default
WORK=$ROOT/build/python-crosscheck
rm -rf "$WORK" && mkdir -p "$WORK/home"

# USAGE's install recipe, its first sh block after the Python heading, run
# as written in a fresh home, before anything else installs Python: it must
# name every package it needs. As root, sudo runs the command itself; apt
# answers yes (stdin is not a terminal). Once more after an apt-get update
# if it fails (stale package lists).
awk '/^## Looking at files: the Python tool/ { on = 1 } on && /^```sh$/ { run = 1; next }
  run && /^```$/ { exit } run' docs/USAGE.md >"$WORK/recipe.sh"
grep -q 'venv' "$WORK/recipe.sh"
printf 'APT::Get::Assume-Yes "true";\n' >"$WORK/apt.conf"
recipe() {
  HOME=$WORK/home APT_CONFIG=$WORK/apt.conf DEBIAN_FRONTEND=noninteractive bash -euo pipefail -c \
    "$( [ "$(id -u)" -ne 0 ] || echo 'sudo() { "$@"; }'; cat "$WORK/recipe.sh")"
}
recipe || { apt_update; recipe; }
VENV=$WORK/home/qmdata-venv
need_packages cmake ninja-build g++ zlib1g-dev libdeflate-dev libgtest-dev
cmake --preset default >/dev/null
cmake --build --preset default --target qmdata_example crosscheck_test

"$BUILD/examples/qmdata_example" "$WORK/example.bin" >/dev/null
python3 python/crosscheck.py decode tests/data "$WORK/example.bin"
python3 python/qmdata_format.py --records slice,vector:z,qualtag \
  "$WORK/example.bin" >"$WORK/example.json"
crosscheck_cases "$WORK/cases" "$BUILD/tests/crosscheck_test" --gtest_brief=1

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
# Cut in half: the guess says why the next record fails, as --records does.
head -c 600000 "$WORK/example.bin" >"$WORK/half.bin"
rc=0 && "$VENV/bin/qmdata-dump" --guess "$WORK/half.bin" >"$WORK/half.txt" || rc=$?
[ "$rc" = 1 ]
grep -qF 'fails there: record 2 (vector:z) at byte offset 101: truncated: the compressed block' \
  "$WORK/half.txt"
"$VENV/bin/qmdata-dump" --plot "$WORK/example.png" --detail 500000:501000 "$WORK/example.bin"
[ "$(head -c 8 "$WORK/example.png" | od -An -tx1 | tr -d ' ')" = 89504e470d0a1a0a ]
[ "$(stat -c %s "$WORK/example.png")" -gt 20000 ]
# Without matplotlib (-S: no site packages), one line and exit status 2.
rc=0 && /usr/bin/python3 -S python/qmdata_format.py --plot "$WORK/none.png" "$WORK/example.bin" 2>"$WORK/none.txt" || rc=$?
[ "$rc" = 2 ] || exit 1
[ "$(wc -l <"$WORK/none.txt")" = 1 ]

# --write: the dump written back. With its vector made plain, byte for byte,
# and so is that file's dump; an edited element comes back edited.
W=("$VENV/bin/qmdata-dump" --write)
sed 's/"vector:z"/"vector"/' "$WORK/example.json" >"$WORK/plain.json"
"${W[@]}" "$WORK/plain.json" "$WORK/plain.bin"
"${W[@]}" - "$WORK/plain-again.bin" <"$WORK/plain.json"
cmp "$WORK/plain.bin" "$WORK/plain-again.bin"
"${DUMP[@]/vector:z/vector}" --pretty "$WORK/plain.bin" >"$WORK/plain-pretty.json"
"${W[@]}" "$WORK/plain-pretty.json" "$WORK/plain-again.bin"
cmp "$WORK/plain.bin" "$WORK/plain-again.bin"
sed 's/"vector"/"vector:z"/; s/"value": \[[0-9]*/"value": [-2147483648/' "$WORK/plain.json" \
  >"$WORK/edited.json"
"${W[@]}" "$WORK/edited.json" "$WORK/edited.bin"
"${DUMP[@]}" --summary "$WORK/edited.bin" |
  grep '^2 vector:z offset=68 size=[0-9]* count=1048576 min=-2147483648 max=2003$' >/dev/null
# Refused in one line with exit status 2, the file before left whole.
cp "$WORK/edited.bin" "$WORK/before.bin"
for bad in '[{"kind": "vectorz", "value": []}]' '[{"kind": "vector", "value": [2147483648]}]' \
  '[{"kind": "range", "value": {"start": 1}}]' '[{"kind": "qualtag", "value": 1}]' '[{"kind": '; do
  rc=0 && "${W[@]}" - "$WORK/edited.bin" <<<"$bad" 2>"$WORK/bad.txt" || rc=$?
  if [ "$rc" != 2 ] || [ "$(wc -l <"$WORK/bad.txt")" != 1 ]; then
    echo "--write $bad: exit $rc" >&2 && exit 1
  fi
done
cmp "$WORK/before.bin" "$WORK/edited.bin"
[ -z "$(find "$WORK" -maxdepth 1 -name '.edited.bin.*')" ]
echo "crosscheck: qmdata-dump installed and run"
