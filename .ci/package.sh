#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the Debian package libqmdata-dev, installs it, builds and runs the
# consumer project (find_package and pkg-config) against the installed
# package, then removes the package again. Runs as root on Debian 12; exits
# non-zero on any failure, and removes the package even then.
#
#   .ci/package.sh [build dir]      (default: build/package)
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
build=${1:-$src/build/package}
export DEBIAN_FRONTEND=noninteractive
# shellcheck source=.ci/lib.sh
source .ci/lib.sh
trap 'print_step_times package.sh $?' EXIT

rm -rf "$build"
mkdir -p "$build"
build=$(cd "$build" && pwd)  # apt-get needs a path to the .deb, not a name
make_package() {
  cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX=/usr -DQMDATA_BUILD_TESTS=OFF \
    -DQMDATA_BUILD_EXAMPLES=OFF >/dev/null
  cmake --build "$build" -j2
  (cd "$build" && cpack -G DEB)
}

remove_package() { apt-get remove -y -qq libqmdata-dev >/dev/null; }

# Installs the package, builds and runs the consumer against it and removes
# the package again, even when the consumer fails.
use_package() {
  echo "package: $deb"
  dpkg-deb --field "$deb" Package Version Architecture Depends
  local contents doc
  contents=$(dpkg-deb --contents "$deb")
  echo "$contents"
  # README.md's links to the usage and format documents work where it lies.
  for doc in USAGE FORMAT; do
    grep -q " \./usr/share/doc/qmdata/docs/$doc\.md$" <<<"$contents" ||
      { echo "package.sh: docs/$doc.md is not installed beside README.md" >&2; exit 1; }
  done
  apt-get install -y -qq "$deb" >/dev/null
  trap remove_package EXIT
  trap 'exit 143' TERM
  dpkg-query -W libqmdata-dev
  if ! tests/consumer/run.sh /usr "$build/consumer"; then
    echo "package.sh: the consumer failed against the installed package" >&2
    exit 1
  fi
  trap - EXIT
  remove_package
  if dpkg-query -W -f='${Status}' libqmdata-dev 2>/dev/null | grep -q "install ok installed"; then
    echo "package.sh: libqmdata-dev is still installed" >&2
    exit 1
  fi
}

# cpack's shlibdeps step runs dpkg-shlibdeps, which dpkg-dev provides.
step -t 600 "install packages" need_packages cmake ninja-build g++ dpkg-dev
step -t 1200 "build and cpack" make_package
deb=$(find "$build" -maxdepth 1 -name 'libqmdata-dev_*.deb' -print -quit)
if [ -z "$deb" ]; then
  echo "package.sh: cpack produced no libqmdata-dev package" >&2
  exit 1
fi
step -t 900 "install, consume, remove" use_package
echo "package.sh: built, installed, used and removed $(basename "$deb")"
