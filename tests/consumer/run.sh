#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds and runs the consumer programs against qmdata.
#   tests/consumer/run.sh <install prefix> <scratch dir>
#       find_package and pkg-config against an installation; the prefix may
#       be /usr (the Debian package) or a staging directory
#   tests/consumer/run.sh --subdirectory <qmdata source> <scratch dir> [cmake args]
#   tests/consumer/run.sh --fetchcontent <git repository> <scratch dir> [cmake args]
#       qmdata built inside the consumer's project (FetchContent takes the
#       repository's HEAD commit)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

# Mistakes that must not compile, each with what the compiler's first 20
# lines must name instead: the statement becomes misuse.cc's QMDATA_MISUSE.
misuses=(
  'ar << v|v.ZipIn(ar)'
  'ar >> v|v.UnzipOut(ar)'
  'std::cout << v|v.print(std::cout, width)'
  'QmRTArchive a(f)|Mode::Store'
  '(void)(c + v)|QmMathLA::vector<int>(c) + b'
)
misuse_check() {  # CXX CFLAGS...
  local row out
  # shellcheck disable=SC2015 # the message when either fails
  for row in "${misuses[@]}"; do
    ! out=$("$@" -std=c++20 -fsyntax-only "-DQMDATA_MISUSE=${row%%|*}" "$here/misuse.cc" 2>&1) &&
      grep -qF -- "${row#*|}" <<<"$(sed -n 1,20p <<<"$out")" ||
      { sed -n 1,40p <<<"$out"; echo "consumer: $1: '${row%%|*}' compiled, or did not name ${row#*|}" >&2; return 1; }
  done
}

build_and_run() {  # SCRATCH CMAKE-ARGS...
  local work=$1
  shift
  rm -rf "$work"
  mkdir -p "$(dirname "$work")"
  cmake -S "$here" -B "$work/cmake" -G Ninja "$@" >"$work.log" 2>&1 ||
    { cat "$work.log"; return 1; }
  cmake --build "$work/cmake" >>"$work.log" 2>&1 || { cat "$work.log"; return 1; }
  "$work/cmake/consumer"
  "$work/cmake/consumer_version"
  "$work/cmake/consumer_ranges"
  if cmake --build "$work/cmake" --target consumer_ignored_unhook >"$work.unhook.log" 2>&1 ||
    ! grep -q unused-result "$work.unhook.log"; then
    cat "$work.unhook.log"
    echo "consumer: ignoring unhook()'s result compiled or failed otherwise" >&2
    return 1
  fi
}

case "$1" in
  --subdirectory)
    src=$(cd "$2" && pwd)
    build_and_run "$3" -DQMDATA_CONSUME=subdirectory -DQMDATA_SOURCE="$src" "${@:4}"
    echo "consumer: add_subdirectory build ran"
    ;;
  --fetchcontent)
    repo=$(cd "$2" && pwd)
    build_and_run "$3" -DQMDATA_CONSUME=fetchcontent -DQMDATA_SOURCE="$repo" \
      -DQMDATA_GIT_TAG="$(git -C "$repo" rev-parse HEAD)" "${@:4}"
    echo "consumer: FetchContent build ran"
    ;;
  *)
    prefix=$1
    work=$2
    # No LD_LIBRARY_PATH: CMake gives the programs it builds the library's
    # directory as their run path.
    build_and_run "$work" -DCMAKE_PREFIX_PATH="$prefix"
    # The same programs through pkg-config; a static library needs the
    # private libraries too.
    pcdir=$(dirname "$(find "$prefix" -name qmdata.pc -print -quit)")
    libdir=$(PKG_CONFIG_PATH="$pcdir" pkg-config --variable=libdir qmdata)
    static=()
    [ -e "$libdir/libqmdata.so" ] || static=(--static)
    flags=$(PKG_CONFIG_PATH="$pcdir" pkg-config "${static[@]}" --cflags --libs qmdata)
    version=$(PKG_CONFIG_PATH="$pcdir" pkg-config --modversion qmdata)
    # shellcheck disable=SC2086
    g++ -std=c++20 "$here/main.cc" -o "$work/consumer-pc" $flags -Wl,-rpath,"$libdir"
    # shellcheck disable=SC2086
    g++ -std=c++20 "-DQMDATA_PACKAGE_VERSION=\"$version\"" "$here/version.cc" \
      -o "$work/consumer-version-pc" $flags
    # shellcheck disable=SC2086
    g++ -std=c++20 "$here/ranges.cc" -o "$work/consumer-ranges-pc" $flags
    "$work/consumer-pc" >/dev/null  # through its run path, as README.md says
    cflags=$(PKG_CONFIG_PATH="$pcdir" pkg-config --cflags qmdata)
    # shellcheck disable=SC2086
    for cxx in g++ clang++; do misuse_check "$cxx" $cflags; done
    LD_LIBRARY_PATH="$libdir" "$work/consumer-ranges-pc" >/dev/null
    LD_LIBRARY_PATH="$libdir" "$work/consumer-version-pc" >/dev/null
    echo "consumer: find_package and pkg-config builds ran (${static[*]:-shared})"
    ;;
esac
