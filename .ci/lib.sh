# Shared by the CI scripts (source it): timed steps with a closing table of
# wall times, and installing missing Debian packages.

# step NAME COMMAND...: runs one step in a subshell with errexit of its own,
# prints and records its wall time, and returns its exit status.
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
  SUMMARY+=("$(printf '%-34s %4ds  %s' "$name" "$dt" "$([ $rc -eq 0 ] && echo ok || echo "FAILED ($rc)")")")
  echo "::: ${name}: ${dt}s, exit ${rc}"
  return $rc
}

# print_step_times TITLE RC: the table of the steps run so far.
print_step_times() {
  local line
  echo "::: $1 wall times"
  for line in "${SUMMARY[@]}"; do echo "  $line"; done
  printf '  %-34s %4ds, exit %s\n' total "$SECONDS" "$2"
}

# need_packages PKG...: installs, as root, the packages not installed yet
# (apt-get update once per script run, or again after APT_UPDATED=0).
APT_UPDATED=0
need_packages() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
      missing+=("$p")
  done
  ((${#missing[@]})) || return 0
  echo "installing: ${missing[*]}"
  if [ "$APT_UPDATED" -eq 0 ]; then
    timeout 600 apt-get update -qq
    APT_UPDATED=1
  fi
  DEBIAN_FRONTEND=noninteractive timeout 1200 apt-get install -y -qq \
    --no-install-recommends "${missing[@]}" >/dev/null
}
