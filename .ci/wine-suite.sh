#!/bin/sh
# SPDX-License-Identifier: MIT
# Runs every *_test.exe of the current directory under Wine, one after another
# (one wineserver for all, which ctest would restart per test case), then any
# further programs given, each in its own directory.
#
#   .ci/wine-suite.sh LOADER LIST [PROGRAM...]
#
# Prints one line per program (exit status, tests run, passed, skipped and
# failed, wall time) and the output of every program that fails; writes the
# passed tests, as "program Suite.Test", to LIST and the skipped ones to
# LIST.skipped. Exits non-zero when any program fails. Plain sh: it also runs
# inside run32.sh's virtual machine.
loader=$1 list=$2
shift 2
: >"$list"
: >"$list.skipped"
rc=0
for exe in *_test.exe; do
  t0=$(date +%s)
  st=0
  "$loader" "./$exe" >"$exe.log" 2>&1 || st=$?
  name=${exe%.exe}
  sed -n 's/^\[       OK \] \([^ ]*\) (.*/\1/p' "$exe.log" | sed "s/^/$name /" >>"$list"
  sed -n 's/^\[  SKIPPED \] \([^ ]*\) (.*/\1/p' "$exe.log" | sed "s/^/$name /" >>"$list.skipped"
  ran=$(sed -n 's/^\[==========\] \([0-9]*\) tests\{0,1\} from .* ran.*/\1/p' "$exe.log")
  passed=$(grep -c '^\[       OK \]' "$exe.log")
  skipped=$(grep -c '^\[  SKIPPED \] [^ ]* (' "$exe.log")
  failed=$(grep -c '^\[  FAILED  \] [^ ]* (' "$exe.log")
  printf '  %-36s exit %3s  ran %4s  passed %4s  skipped %2s  failed %2s  %3ss\n' \
    "$exe" "$st" "${ran:-?}" "$passed" "$skipped" "$failed" "$(($(date +%s) - t0))"
  if [ "$st" -ne 0 ] || [ -z "$ran" ] || [ "$failed" -ne 0 ]; then
    rc=1
    sed 's/^/    | /' "$exe.log"
  fi
done
for prog in "$@"; do
  st=0
  out=$(cd "$(dirname "$prog")" && "$loader" "./$(basename "$prog")" 2>&1) || st=$?
  printf '  %-36s exit %3s\n' "$(basename "$prog")" "$st"
  printf '%s\n' "$out" | sed 's/^/    | /'
  [ "$st" -eq 0 ] || rc=1
done
echo "  total: $(wc -l <"$list") passed, $(wc -l <"$list.skipped") skipped"
exit $rc
