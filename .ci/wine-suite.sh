#!/bin/sh
# SPDX-License-Identifier: MIT
#   .ci/wine-suite.sh LOADER LIST [PROGRAM...]
# Runs every *_test.exe here under Wine, one after another (one wineserver
# for all), then each PROGRAM in its own directory; lists each passed or
# skipped test in LIST ("program.Suite.Test Passed"), prints a line per
# program and the output of each that fails, and fails when any fails.
# Plain sh: it also runs in run32.sh's virtual machine.
loader=$1 list=$2
shift 2
: >"$list"
rc=0
for exe in *_test.exe; do
  t0=$(date +%s) st=0
  "$loader" "./$exe" >"$exe.log" 2>&1 || st=$?
  sed -n -e "s/^\[       OK \] \([^ ]*\) (.*/${exe%.exe}.\1 Passed/p" \
    -e "s/^\[  SKIPPED \] \([^ ]*\) (.*/${exe%.exe}.\1 Skipped/p" "$exe.log" >>"$list"
  ran=$(sed -n 's/^\[==========\] \([0-9]*\) tests\{0,1\} from .* ran.*/\1/p' "$exe.log")
  failed=$(grep -c '^\[  FAILED  \] [^ ]* (' "$exe.log")
  printf '  %-36s exit %3s  ran %4s  failed %2s  %3ss\n' "$exe" "$st" "${ran:-?}" "$failed" "$(($(date +%s) - t0))"
  [ "$st" -eq 0 ] && [ -n "$ran" ] && [ "$failed" -eq 0 ] || { rc=1; sed 's/^/    | /' "$exe.log"; }
done
for prog in "$@"; do
  st=0
  out=$(cd "$(dirname "$prog")" && "$loader" "./$(basename "$prog")" 2>&1) || st=$?
  printf '  %-36s exit %3s\n%s\n' "$(basename "$prog")" "$st" "$out" | sed '2,$s/^/    | /'
  [ "$st" -eq 0 ] || rc=1
done
exit $rc
