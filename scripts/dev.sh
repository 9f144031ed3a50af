#!/usr/bin/env bash
# Developer entry point: installs what the build needs (Debian packages, as
# root, only when missing), then configures, builds and runs.
#
#   scripts/dev.sh example   build and run the round-trip example
#   scripts/dev.sh test      build and run every unit test
#   scripts/dev.sh bench     build the benchmarks (Release) and run them
set -euo pipefail
cd "$(dirname "$0")/.."

need_packages() {
  local missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if ((${#missing[@]})); then
    echo "installing: ${missing[*]}" >&2
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  fi
}

base=(cmake ninja-build g++ pkg-config zlib1g-dev libdeflate-dev)
case "${1:-}" in
  example)
    need_packages "${base[@]}"
    cmake --preset default >/dev/null
    cmake --build --preset default --target qmdata_example >/dev/null
    cd build/default && ./examples/qmdata_example
    ;;
  test)
    need_packages "${base[@]}" libgtest-dev
    cmake --preset default
    cmake --build --preset default
    ctest --preset default
    ;;
  bench)
    need_packages "${base[@]}" libbenchmark-dev libeigen3-dev libcereal-dev
    cmake --preset release >/dev/null
    cmake --build --preset release
    for b in build/release/bench/*_bench; do "$b"; done
    ;;
  *)
    echo "usage: $0 example|test|bench" >&2
    exit 2
    ;;
esac
