#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The Debian package libqmdata-dev built with cpack, installed, the consumer
# (find_package, pkg-config) run against it, removed again even when that
# fails. As root on Debian 12.    .ci/package.sh [build dir]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/package}
export DEBIAN_FRONTEND=noninteractive
# shellcheck source=.ci/lib.sh
source .ci/lib.sh
# cpack's shlibdeps step runs dpkg-shlibdeps, which dpkg-dev provides.
need_packages cmake ninja-build g++ clang pkg-config dpkg-dev
rm -rf "$build" && mkdir -p "$build"
build=$(cd "$build" && pwd)  # apt-get needs a path to the .deb, not a name
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DQMDATA_BUILD_TESTS=OFF -DQMDATA_BUILD_EXAMPLES=OFF >/dev/null
cmake --build "$build" -j2 >/dev/null
(cd "$build" && cpack -G DEB)
deb=$(find "$build" -maxdepth 1 -name 'libqmdata-dev_*.deb' -print -quit)
[ -n "$deb" ] || { echo "package.sh: cpack produced no libqmdata-dev package" >&2; exit 1; }
dpkg-deb --field "$deb" Package Version Architecture Depends
contents=$(dpkg-deb --contents "$deb") && echo "$contents"
# README.md's links to the usage and format documents work where it lies.
for doc in USAGE FORMAT; do
  grep -q " \./usr/share/doc/qmdata/docs/$doc\.md$" <<<"$contents" ||
    { echo "package.sh: docs/$doc.md is not installed beside README.md" >&2; exit 1; }
done
apt-get install -y -qq "$deb" >/dev/null
trap 'apt-get remove -y -qq libqmdata-dev >/dev/null' EXIT
trap 'exit 143' TERM
dpkg-query -W libqmdata-dev
tests/consumer/run.sh /usr "$build/consumer" ||
  { echo "package.sh: the consumer failed against the installed package" >&2; exit 1; }
trap - EXIT
apt-get remove -y -qq libqmdata-dev >/dev/null
! dpkg-query -W -f='${Status}' libqmdata-dev 2>/dev/null | grep -q "install ok installed" ||
  { echo "package.sh: libqmdata-dev is still installed" >&2; exit 1; }
echo "package.sh: built, installed, used and removed $(basename "$deb")"
