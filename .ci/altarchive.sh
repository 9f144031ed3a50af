#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The value classes built and installed against another archive library
# (tests/altarchive: the archive interface alone, an encoding of its own);
# the conformance check (tests/altarchive/check) runs with CMake, with
# pkg-config, and as users run it (scripts/dev.sh archive-check).
#
#   .ci/altarchive.sh [scratch dir]      (default: build/altarchive)
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
work=${1:-$src/build/altarchive}
# shellcheck source=.ci/lib.sh
. .ci/lib.sh
need_packages cmake ninja-build g++ pkg-config zlib1g-dev
rm -rf "$work"
stage=$work/prefix

cmake -S tests/altarchive -B "$work/altarchive" -G Ninja \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$work/altarchive" -j2 >/dev/null
cmake --install "$work/altarchive" --prefix "$stage" >/dev/null

cmake -S "$src" -B "$work/qmdata" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$stage" -DQMDATA_RTARCHIVE_PACKAGE=altarchive \
  -DQMDATA_RTARCHIVE_TARGET=altarchive::rtarchive \
  -DQMDATA_RTARCHIVE_PKGCONFIG=altarchive >/dev/null
cmake --build "$work/qmdata" -j2 >/dev/null
cmake --install "$work/qmdata" --prefix "$stage" >/dev/null
# Only the value classes are installed, and no header of qmdata's own archive.
if [ -e "$stage/include/qmdata/rtarchive" ] || compgen -G "$stage/lib*/libqmdata_rtarchive*" >/dev/null; then
  echo "altarchive.sh: qmdata's own archive library was installed" >&2
  exit 1
fi

cmake -S tests/altarchive/check -B "$work/check" -G Ninja \
  -DCMAKE_PREFIX_PATH="$stage" -DQMDATA_CHECK_QMDATA=installed >/dev/null
cmake --build "$work/check" >/dev/null
LD_LIBRARY_PATH="$stage/lib:$stage/lib/$(gcc -print-multiarch)" "$work/check/archive_check"
# With pkg-config: qmdata.pc requires the archive's module.
pcdir=$(dirname "$(find "$stage" -name qmdata.pc -print -quit)")
# shellcheck disable=SC2046
g++ -std=c++20 -Itests tests/altarchive/check/main.cc -o "$work/check-pc" \
  $(PKG_CONFIG_PATH="$pcdir" pkg-config --cflags --libs qmdata)
LD_LIBRARY_PATH="$stage/lib:$stage/lib/$(gcc -print-multiarch)" "$work/check-pc" | tail -1
scripts/dev.sh archive-check altarchive altarchive::rtarchive "$stage"
