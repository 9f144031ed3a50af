# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# Shared by the CI, fuzzing and developer scripts (source it): timed steps,
# installs of missing Debian packages, and ci_preset, which builds and tests
# a preset and compares its results with another's.
QMDATA_CI_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
SUMMARY=()
STEP_FAILURES=0

# step [-t SECONDS] NAME COMMAND...: COMMAND with errexit, stdin /dev/null,
# in a process group that the limit (STEP_LIMIT or 3600 s) stops (TERM, KILL
# 30 s later); records its wall time, returns its status. Call it plainly (in
# ||, &&, if or ! errexit is off). STEP_KEEP_GOING=1: failures only counted.
step() {
  local limit=${STEP_LIMIT:-3600}
  [ "$1" != -t ] || { limit=$2; shift 2; }
  limit=$((limit * ${STEP_SCALE:-1}))  # STEP_SCALE=N: a slower or busier machine
  local name=$1 t0=$SECONDS rc=0 pid dog traps
  shift
  echo "::: ${name}"
  set -m
  (set -e; "$@") </dev/null &
  pid=$!
  (sleep "$limit"; kill -TERM -- "-$pid"; sleep 30; kill -KILL -- "-$pid") </dev/null >/dev/null 2>&1 &
  dog=$!
  set +m
  # Interrupted: stop the step's group, exit; the caller's traps come back.
  traps=$(trap -p INT TERM)
  trap 'kill -TERM -- -'"$pid"' 2>/dev/null; exit 130' INT
  trap 'kill -TERM -- -'"$pid"' 2>/dev/null; exit 143' TERM
  wait "$pid" || rc=$?
  trap - INT TERM
  eval "$traps"
  kill -TERM -- "-$dog" 2>/dev/null || true
  local dt=$((SECONDS - t0)) status=ok
  [ $rc -eq 0 ] || status="FAILED ($rc)"
  [ $rc -eq 0 ] || [ $dt -lt "$limit" ] || status="TIMED OUT after ${limit}s"
  SUMMARY+=("$(printf '%-34s %4ds  %s' "$name" "$dt" "$status")")
  echo "::: ${name}: ${dt}s, exit ${rc}"
  [ $rc -ne 0 ] && [ "${STEP_KEEP_GOING:-0}" = 1 ] && { STEP_FAILURES=$((STEP_FAILURES + 1)); return 0; }
  return $rc
}

# print_step_times TITLE RC: the table of the steps run so far.
print_step_times() {
  local line
  echo "::: $1 wall times"
  for line in "${SUMMARY[@]}"; do echo "  $line"; done
  printf '  %-34s %4ds, exit %s\n' total "$SECONDS" "$2"
}

# as_root COMMAND...: runs COMMAND as root, through sudo when not root.
as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

# apt_update: apt-get update, tried three times (a mirror in a sync serves
# an index of the wrong size for a while), else the lists there are serve.
apt_update() {
  local try
  for try in 1 2 3; do
    as_root timeout 600 apt-get update -qq && return 0
    echo "apt-get update failed (try $try of 3)" >&2 && [ "$try" -eq 3 ] || sleep 30
  done
  echo "apt-get update kept failing; going on with the package lists there are" >&2
}

# need_packages PKG...: installs those missing; if that fails (no package
# lists yet, or stale ones), once more after an apt-get update.
need_packages() {
  local missing=() p
  for p in "$@"; do dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p"); done
  ((${#missing[@]})) || return 0
  echo "installing: ${missing[*]}" >&2
  set -- as_root env DEBIAN_FRONTEND=noninteractive timeout 1200 apt-get install -y -qq \
    --no-install-recommends "${missing[@]}"
  "$@" >/dev/null 2>&1 || { apt_update; "$@" >/dev/null 2>&1; } || install_aligned "${missing[@]}"
}

# install_aligned PKG...: a foreign Multi-Arch: same library must have the
# host's version; where the host's build is one the foreign lists lack (their
# security index failed to download), both are installed at the foreign one.
install_aligned() {
  local args=("$@") out pkg v n host
  host=$(dpkg --print-architecture)
  until out=$(apt-get install -s --allow-downgrades "${args[@]}" 2>&1); do
    n=${#args[@]}
    for pkg in $(grep -oE 'Depends: [a-z0-9.+-]+:[a-z0-9]+' <<<"$out" | sed 's/^Depends: //' | sort -u); do
      v=$(apt-cache policy "$pkg" | sed -n 's/^  Candidate: //p')
      [[ $v == "(none)" || " ${args[*]} " == *" $pkg=$v "* ]] || args+=("$pkg=$v" "${pkg%:*}:$host=$v")
    done
    ((${#args[@]} > n)) || { echo "$out" >&2; return 1; }
  done
  echo "installing at the foreign lists' versions: ${args[*]:$#}" >&2
  as_root env DEBIAN_FRONTEND=noninteractive timeout 1200 apt-get install -y -qq \
    --no-install-recommends --allow-downgrades "${args[@]}" >/dev/null
}

# need_foreign_arch ARCH: dpkg knows ARCH, and the lists hold its packages.
need_foreign_arch() {
  dpkg --print-foreign-architectures | grep -qx "$1" || as_root dpkg --add-architecture "$1"
  compgen -G "/var/lib/apt/lists/*_binary-${1}_Packages*" >/dev/null || apt_update
}

# ci_preset [-r REFERENCE] [-t TESTER] PRESET: configures and builds PRESET,
# runs its tests (TESTER LIST CTEST-COMMAND..., default ctest_listed) and
# lists each test's result ("name Status", sorted) in build/PRESET.results.
# With -r they must equal REFERENCE's, a skip included (REFERENCE is built
# and tested first when it has no results yet).
ci_preset() {
  local ref='' tester=''
  while [[ $1 == -[rt] ]]; do
    if [ "$1" = -r ]; then ref=$2; else tester=$2; fi
    shift 2
  done
  local preset=$1 list=build/$1.results
  cd "$QMDATA_CI_ROOT"
  [ -z "$ref" ] || [ -s "build/$ref.results" ] || ci_preset "$ref"
  local t0=$SECONDS
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"${JOBS:-2}" >"build/$preset.build.log" 2>&1 ||
    { cat "build/$preset.build.log"; return 1; }
  echo "  $preset: configured and built in $((SECONDS - t0)) s"
  t0=$SECONDS
  : >"$list"
  ${tester:-ctest_listed} "$list" ctest --preset "$preset" -j"${JOBS:-2}"
  sort -o "$list" "$list"
  printf '  %s: tested in %d s: %s tests, %s skipped, %s neither passed nor skipped\n' "$preset" \
    $((SECONDS - t0)) "$(wc -l <"$list")" "$(grep -c ' Skipped$' "$list")" "$(grep -vcE ' (Passed|Skipped)$' "$list")"
  [ -n "$ref" ] || return 0
  diff "build/$ref.results" "$list" ||
    { echo "  $preset's results differ from $ref's (< $ref, > $preset)" >&2; return 1; }
  echo "  $preset's results equal $ref's; skipped on both: $(sed -n 's/ Skipped$//p' "$list" | tr '\n' ' ')"
}

# ctest_listed LIST COMMAND...: runs ctest as COMMAND, its output kept in
# LIST.log (shown when it fails), and lists each test's result in LIST.
ctest_listed() {
  "${@:2}" --no-tests=error >"$1.log" 2>&1 || { cat "$1.log"; return 1; }
  sed -nE 's/^ *[0-9]+\/[0-9]+ Test +#[0-9]+: ([^ ]+) \.*[ *]*([A-Za-z]+).*/\1 \2/p' "$1.log" >"$1"
}

# crosscheck_cases DIR PROGRAM...: the records python/crosscheck.py writes
# into DIR, loaded or refused (when damaged) by the cross-check test program
# run as PROGRAM... (after its emulator, if any). A skip fails too.
crosscheck_cases() {
  local dir=$1
  shift
  python3 "$QMDATA_CI_ROOT/python/crosscheck.py" write "$dir"
  { QMDATA_CROSSCHECK_DIR=$dir "$@" >"$dir.log" 2>&1 && grep -q '^\[  PASSED  \] 1 test' "$dir.log" &&
    ! grep -q '^\[  SKIPPED' "$dir.log"; } || { cat "$dir.log"; return 1; }
  grep '^\[  PASSED' "$dir.log"
}
