# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# Shared by the CI, cross-build, fuzzing and developer scripts (source it):
# timed and bounded steps with a closing table of wall times, and one
# installer of missing Debian packages.

# step [-t SECONDS] NAME COMMAND...: runs COMMAND (a program or a function of
# the calling script) in a subshell with errexit of its own and in a process
# group of its own, so that the time limit (-t, default STEP_LIMIT or 3600 s)
# stops it with everything it started: TERM at the limit, KILL 30 s later.
# Prints and records its wall time and returns its exit status. A COMMAND
# given as a path that is missing or not executable fails the step. The step
# reads no terminal input (stdin is /dev/null).
# Call it as a plain command: inside `||`, `&&`, `if` or `!` bash switches
# errexit off for everything the step runs. A script that goes on after a
# failed step sets STEP_KEEP_GOING=1: step then returns 0 and counts the
# failure in STEP_FAILURES.
# The project's root, however this file was sourced.
QMDATA_CI_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
SUMMARY=()
STEP_FAILURES=0
step() {
  local limit=${STEP_LIMIT:-3600}
  if [ "$1" = -t ]; then
    limit=$2
    shift 2
  fi
  local name=$1 t0=$SECONDS rc=0 pid dog traps
  shift
  echo "::: ${name}"
  if [[ $1 == */* && ! -x $1 ]]; then
    echo "::: ${name}: $1 is missing or not executable" >&2
    rc=126
  else
    set -m
    (
      set -e
      "$@"
    ) </dev/null &
    pid=$!
    (
      sleep "$limit"
      kill -TERM -- "-$pid"
      sleep 30
      kill -KILL -- "-$pid"
    ) </dev/null >/dev/null 2>&1 &
    dog=$!
    set +m
    # An interrupted script stops the step's group too, then exits (through
    # its EXIT trap, if any); the caller's INT and TERM traps come back after.
    traps=$(trap -p INT TERM)
    trap 'kill -TERM -- -'"$pid"' 2>/dev/null; exit 130' INT
    trap 'kill -TERM -- -'"$pid"' 2>/dev/null; exit 143' TERM
    wait "$pid" || rc=$?
    trap - INT TERM
    eval "$traps"
    kill -TERM -- "-$dog" 2>/dev/null || true
  fi
  local dt=$((SECONDS - t0)) status=ok
  if [ $rc -ne 0 ]; then
    status="FAILED ($rc)"
    [ $dt -lt "$limit" ] || status="TIMED OUT after ${limit}s"
  fi
  SUMMARY+=("$(printf '%-34s %4ds  %s' "$name" "$dt" "$status")")
  echo "::: ${name}: ${dt}s, exit ${rc}"
  if [ $rc -ne 0 ] && [ "${STEP_KEEP_GOING:-0}" = 1 ]; then
    STEP_FAILURES=$((STEP_FAILURES + 1))
    return 0
  fi
  return $rc
}

# print_step_times TITLE RC: the table of the steps run so far.
print_step_times() {
  local line
  echo "::: $1 wall times"
  for line in "${SUMMARY[@]}"; do echo "  $line"; done
  printf '  %-34s %4ds, exit %s\n' total "$SECONDS" "$2"
}

# apt_update [sudo]: apt-get update, tried three times: a mirror caught in
# a sync serves an index of the wrong size for a minute ("Mirror sync in
# progress?"). If every try fails, the lists already there are used, and a
# package they lack makes the install that follows fail loudly.
apt_update() {
  local try
  for try in 1 2 3; do
    "$@" timeout 600 apt-get update -qq && return 0
    echo "apt-get update failed (try $try of 3)" >&2
    [ "$try" -eq 3 ] || sleep 30
  done
  echo "apt-get update kept failing; going on with the package lists there are" >&2
}

# as_root COMMAND...: runs COMMAND as root, through sudo when not root.
as_root() {
  if [ "$(id -u)" -eq 0 ]; then
    "$@"
  else
    command -v sudo >/dev/null || { echo "needs root or sudo: $*" >&2; return 1; }
    sudo "$@"
  fi
}

# need_packages PKG...: installs the packages not installed yet, as root or
# through sudo (apt-get update once per script run, or again after
# APT_UPDATED=0).
APT_UPDATED=0
need_packages() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
      missing+=("$p")
  done
  ((${#missing[@]})) || return 0
  echo "installing: ${missing[*]}" >&2
  if [ "$APT_UPDATED" -eq 0 ]; then
    apt_update as_root
    APT_UPDATED=1
  fi
  as_root env DEBIAN_FRONTEND=noninteractive timeout 1200 apt-get install \
    -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# need_foreign_arch ARCH: dpkg knows the architecture ARCH and the package
# lists hold its packages (updated now when they do not: an architecture
# added earlier may never have had its lists fetched).
need_foreign_arch() {
  dpkg --print-foreign-architectures | grep -qx "$1" ||
    as_root dpkg --add-architecture "$1"
  if ! compgen -G "/var/lib/apt/lists/*_binary-${1}_Packages*" >/dev/null; then
    apt_update as_root
    APT_UPDATED=1
  fi
}

# build_preset PRESET: configures and builds a CMake preset of the project.
build_preset() {
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1" -j"${JOBS:-2}"
}

# ctest_listed LABEL LIST CTEST_ARGS...: runs ctest with CTEST_ARGS, its
# output kept in LIST.log (and shown when it fails), then writes the results
# to LIST and prints their counts after LABEL.
ctest_listed() {
  local label=$1 list=$2
  shift 2
  ctest --no-tests=error "$@" >"$list.log" 2>&1 || { cat "$list.log"; return 1; }
  printf '  %s ' "$label"
  ctest_results "$list.log" "$list"
}

# each_elf DIR WHAT CHECK: runs CHECK FILE for every ELF program and shared
# library built below DIR (CHECK says what is wrong with a file); fails when
# any check fails or no file is found, and says how many passed WHAT.
each_elf() {
  local f n=0 bad=0
  while IFS= read -r f; do
    n=$((n + 1))
    "$3" "$f" || bad=1
  done < <(elf_files "$1")
  echo "  $n ELF files, $2"
  ((n > 0)) || return 1
  return $bad
}

# ctest_results LOG LIST: from the output of a ctest run, writes one line per
# test ("name status": Passed, Skipped, Failed, Timeout, ...) to LIST, sorted,
# and prints the counts. Compare two runs' lists with diff.
ctest_results() {
  sed -nE 's/^ *[0-9]+\/[0-9]+ Test +#[0-9]+: ([^ ]+) \.*[ *]*([A-Za-z]+).*/\1 \2/p' "$1" |
    sort >"$2"
  printf '%s tests: %s passed, %s skipped, %s other\n' "$(wc -l <"$2")" \
    "$(grep -c ' Passed$' "$2")" "$(grep -c ' Skipped$' "$2")" \
    "$(grep -vcE ' (Passed|Skipped)$' "$2")"
}

# crosscheck_cases DIR PROGRAM...: the records that python/crosscheck.py
# writes into DIR, loaded (or refused, when damaged) by the cross-check test
# program run as PROGRAM... (after its emulator, if any). A skip fails too.
crosscheck_cases() {
  local dir=$1 log=$1.log
  shift
  python3 "$QMDATA_CI_ROOT/python/crosscheck.py" write "$dir"
  QMDATA_CROSSCHECK_DIR=$dir "$@" >"$log" 2>&1 || { cat "$log"; return 1; }
  if ! grep -q '^\[  PASSED  \] 1 test' "$log" || grep -q '^\[  SKIPPED' "$log"; then
    cat "$log"
    return 1
  fi
  grep '^\[  PASSED' "$log"
}

# elf_files DIR: every ELF program and shared library built below DIR.
elf_files() {
  find "$1" -path "$1/CMakeFiles" -prune -o -type f \( -name '*.so*' -o -perm -u+x \) \
    -exec sh -c 'head -c4 "$1" | grep -q ELF' _ {} \; -print
}

# same_results REFERENCE RESULTS NAME: the two ctest_results lists agree
# test for test (a skip included); says so, or shows the difference.
same_results() {
  diff "$1" "$2" ||
    { echo "  the $3 results differ from the reference (< reference, > $3)" >&2; return 1; }
  echo "  $3 results equal the reference results: $(wc -l <"$2") tests"
  if grep -q ' Skipped$' "$2"; then
    echo "  skipped on both:"
    sed -n 's/ Skipped$//p' "$2" | sed 's/^/    /'
  fi
}

# program BUILD_DIR NAME: a program of the build, wherever the build put it.
program() {
  local p
  p=$(find "$1" -path "$1/CMakeFiles" -prune -o -type f -name "$2" -print -quit)
  [ -n "$p" ] || { echo "  no program $2 in $1" >&2; return 1; }
  echo "$p"
}
