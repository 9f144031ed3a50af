#!/usr/bin/env bash
# Builds and runs the consumer against an installed qmdata.
#   tests/consumer/run.sh <install prefix> <scratch dir>
# The prefix may be /usr (the Debian package) or a staging directory.
set -euo pipefail
prefix=$1
work=$2
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$work"
cmake -S "$here" -B "$work/cmake" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cmake" >/dev/null
LD_LIBRARY_PATH="$prefix/lib:$prefix/lib/$(gcc -print-multiarch 2>/dev/null || true)" "$work/cmake/consumer"
# The same program through pkg-config.
pcdir=$(dirname "$(find "$prefix" -name qmdata.pc -print -quit)")
flags=$(PKG_CONFIG_PATH="$pcdir" pkg-config --cflags --libs qmdata)
# shellcheck disable=SC2086
g++ -std=c++20 "$here/main.cc" -o "$work/consumer-pc" $flags
LD_LIBRARY_PATH="$(PKG_CONFIG_PATH="$pcdir" pkg-config --variable=libdir qmdata)" "$work/consumer-pc" >/dev/null
echo "consumer: find_package and pkg-config builds ran"
