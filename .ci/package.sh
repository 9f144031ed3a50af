#!/usr/bin/env bash
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

# cpack's shlibdeps step runs dpkg-shlibdeps, which dpkg-dev provides.
if ! command -v dpkg-shlibdeps >/dev/null; then
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends dpkg-dev >/dev/null
fi

rm -rf "$build"
mkdir -p "$build"
build=$(cd "$build" && pwd)  # apt-get needs a path to the .deb, not a name
cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_INSTALL_PREFIX=/usr -DQMDATA_BUILD_TESTS=OFF \
  -DQMDATA_BUILD_EXAMPLES=OFF >/dev/null
cmake --build "$build" -j2
(cd "$build" && cpack -G DEB)
deb=$(find "$build" -maxdepth 1 -name 'libqmdata-dev_*.deb' -print -quit)
if [ -z "$deb" ]; then
  echo "package.sh: cpack produced no libqmdata-dev package" >&2
  exit 1
fi
echo "package: $deb"
dpkg-deb --field "$deb" Package Version Architecture Depends
dpkg-deb --contents "$deb"

remove_package() { apt-get remove -y -qq libqmdata-dev >/dev/null; }
apt-get install -y -qq "$deb" >/dev/null
trap remove_package EXIT
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
echo "package.sh: built, installed, used and removed $(basename "$deb")"
