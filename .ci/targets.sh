#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
#   .ci/targets.sh TARGET...   (i386 win64 win32 s390x libcxx valgrind)
# The presets beyond the native ones (docs/DEVELOPING.md), built and tested
# by ci_preset (.ci/lib.sh) with checks of their own. Where the kernel runs no
# 32-bit code, i386 programs run under qemu-i386 and 32-bit Windows ones in
# RUN32's virtual machine (../shared/run32/run32.sh beside the clone).
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
RUN32=${RUN32:-$ROOT/../shared/run32/run32.sh}
# shellcheck source=.ci/lib.sh
source "$ROOT/.ci/lib.sh"
cd "$ROOT"

runs_i386() { /lib/ld-linux.so.2 --version >/dev/null 2>&1; }

# emulator DIR: what runs the programs of the build in DIR, if anything.
emulator() { sed -n 's/^CMAKE_CROSSCOMPILING_EMULATOR:[A-Z]*=//p' "$1/CMakeCache.txt" | tr ';' ' '; }

# consumer PRESET CMAKE-ARGS...: the build installed in build/PRESET-stage,
# and tests/consumer built against it with the preset's toolchain file.
consumer() {
  local p=$1 stage=build/$1-stage work=build/$1-consumer
  shift
  rm -rf "$stage" "$work" && cmake --install "build/$p" --prefix "$stage" >/dev/null
  cmake -S tests/consumer -B "$work" -G Ninja -Dqmdata_DIR="$PWD/$stage/lib/cmake/qmdata" \
    "$(sed -n 's/^CMAKE_TOOLCHAIN_FILE:[A-Z]*=/-DCMAKE_TOOLCHAIN_FILE=/p' "build/$p/CMakeCache.txt")" \
    "$@" >/dev/null
  cmake --build "$work" >/dev/null
}

target_i386() {
  need_foreign_arch i386
  need_packages g++-multilib zlib1g-dev:i386 libdeflate-dev:i386 libgtest-dev:i386
  # Under qemu LeakSanitizer cannot stop the world, and the default
  # quarantine exhausts the emulated address space.
  runs_i386 || { echo "  no 32-bit code here: qemu-i386 runs it"; need_packages qemu-user; export ASAN_OPTIONS=detect_leaks=0:quarantine_size_mb=16; }
  ci_preset i386-asan
  readelf -h build/i386-asan/libqmdata.so | grep -q 'Class: *ELF32'
  local san="-m32 -fsanitize=address,undefined"
  consumer i386-asan -DCMAKE_CXX_FLAGS="$san" -DCMAKE_EXE_LINKER_FLAGS="$san"
  # shellcheck disable=SC2046
  LD_LIBRARY_PATH=build/i386-asan-stage/lib $(emulator build/i386-asan) build/i386-asan-consumer/consumer
}

# check_modules ARCH MODULE...: each imports only the system DLLs, the two
# libraries' and on i686 the runtime DLLs beside them: DWARF-2 unwinding needs
# one libgcc per process, so each imports it and has no unwinder of its own.
check_modules() {
  local arch=$1 f d dlls syms x bad=0 rt=''
  shift
  [ "$arch" = x86_64 ] || rt="libgcc_s_dw2-1.dll libwinpthread-1.dll"
  for f in "$@"; do
    [[ " $rt " != *" ${f##*/} "* ]] || continue
    dlls=$("$arch-w64-mingw32-objdump" -p "$f" | sed -n 's/^\s*DLL Name: //p' | sort -u | tr '\n' ' ')
    echo "  ${f##*/}: $dlls"
    for d in ${dlls,,}; do
      [[ " kernel32.dll msvcrt.dll libqmdata.dll libqmdata_rtarchive.dll $rt " == *" $d "* ]] ||
        { echo "  unexpected import $d in $f" >&2; bad=1; }
    done
    [ -n "$rt" ] || continue
    [[ " ${dlls,,}" == *" libgcc_s_dw2-1.dll "* ]] || { echo "  $f does not import the shared libgcc" >&2; bad=1; }
    syms=$("$arch-w64-mingw32-nm" "$f")
    for x in ___register_frame_info __Unwind_RaiseException __Unwind_Find_FDE; do
      ! grep -qE " [Tt] $x\$" <<<"$syms" || grep -q " I __imp_$x\$" <<<"$syms" ||
        { echo "  $f links its own copy of the unwinder ($x)" >&2; bad=1; }
    done
  done
  for d in $rt libqmdata_rtarchive.dll; do
    [ -f "$(dirname "$f")/$d" ] || { echo "  $d is not beside $f" >&2; bad=1; }
  done
  return $bad
}

# dll_has DLL PATTERN COMPLAINT: the whole of objdump -p DLL matches PATTERN.
dll_has() { "$arch-w64-mingw32-objdump" -p "$1" | grep -ci "$2" >/dev/null || { echo "  ${1##*/} $3" >&2; return 1; }; }

# win_tests ARCH LIST: the DLLs' imports and exports; the consumer built
# against the install (find_package, pkg-config) beside a copy of its DLLs as
# a user ships it; the tests and consumers under Wine, results in LIST.
win_tests() {
  local arch=$1 list=$2 b=build/mingw-$1/bin app=$ROOT/build/mingw-$1-consumer/app own=-static-libstdc++
  local pre=() post=() flags rc=0
  check_modules "$arch" "$b"/*.dll "$b"/*.exe
  dll_has "$b/libqmdata.dll" vectorIiE "exports no vector<int> members"
  dll_has "$b/libqmdata_rtarchive.dll" QmRTArchive "exports no QmRTArchive members"
  dll_has "$b/libqmdata.dll" 'DLL Name: libqmdata_rtarchive.dll' "does not import libqmdata_rtarchive.dll"
  # x86-64 links everything else statically, and qmdata through its import
  # library, which -static alone would not look for.
  [ "$arch" = i686 ] || { own=-static pre=(-Wl,-Bdynamic) post=(-Wl,-Bstatic); }
  consumer "mingw-$arch" -DCMAKE_BUILD_TYPE=Release -DCMAKE_EXE_LINKER_FLAGS="$own"
  mkdir -p "$app"
  cp build/mingw-"$arch"-stage/bin/*.dll "build/mingw-$arch-consumer/consumer.exe" "$app/"
  flags=$(PKG_CONFIG_PATH="build/mingw-$arch-stage/lib/pkgconfig" PKG_CONFIG_SYSROOT_DIR='' pkg-config --cflags --libs qmdata)
  echo "  pkg-config: $flags"
  # shellcheck disable=SC2086
  "$arch-w64-mingw32-g++-posix" -std=c++20 -O1 tests/consumer/main.cc -o "$app/consumer-pc.exe" \
    $own "${pre[@]}" $flags "${post[@]}"
  check_modules "$arch" "$app"/*.exe
  # i686: run32.sh runs the suite here, or in its virtual machine (only the
  # program directory writable). x86-64: a persistent wineserver, services
  # started detached from any pipe (a reader would wait for them), the 64-bit
  # loader by name (Debian's wrapper prefers wine32 when installed).
  if [ "$arch" = i686 ]; then
    runs_i386 || [ -x "$RUN32" ] || { echo "::: win32 tests NOT RUN: no 32-bit code here, no $RUN32"; return; }
    "$RUN32" "$b" sh "$ROOT/.ci/wine-suite.sh" wine results "$app/consumer.exe" "$app/consumer-pc.exe"
  else
    export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEPREFIX=$ROOT/build/wine64 \
      WINELOADER=/usr/lib/wine/wine64
    unset DISPLAY
    { timeout 60 wineserver -p && timeout 300 "$WINELOADER" wineboot -i &&
      timeout 120 "$WINELOADER" cmd /c exit; } </dev/null >/dev/null 2>&1
    (cd "$b" && timeout 1200 sh "$ROOT/.ci/wine-suite.sh" "$WINELOADER" results \
      "$app/consumer.exe" "$app/consumer-pc.exe") || rc=$?
    timeout 30 wineserver -k || true
    [ $rc -eq 0 ]
  fi
  mv "$b/results" "$list"
}

target_win64() {
  need_packages pkg-config googletest g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine wine64
  ci_preset -t "win_tests x86_64" mingw-x86_64
}

target_win32() {
  local ref=(-r mingw-x86_64)
  need_foreign_arch i386
  need_packages pkg-config googletest g++-mingw-w64-i686-posix libz-mingw-w64-dev wine wine32 wine64
  # run32.sh's virtual machine, installed here with the retried update.
  runs_i386 || ! [ -x "$RUN32" ] || need_packages qemu-system-x86 busybox-static
  runs_i386 || [ -x "$RUN32" ] || ref=()
  [ -s build/mingw-x86_64.results ] || ((${#ref[@]} == 0)) || target_win64
  ci_preset "${ref[@]}" -t "win_tests i686" mingw-i686
}

# The cross compiler and the s390x libraries unpacked into build/s390x-root,
# the compiler's sysroot, never installed (see docs/DEVELOPING.md); absolute
# links made relative, the cross binutils given a run path to their libbfd.
s390x_root() {
  local root=$ROOT/build/s390x-root debs=$ROOT/build/s390x-debs l
  rm -rf "$root" "$debs" && mkdir -p "$root" "$debs"
  # APT::Sandbox::User=root: the _apt user may not write to $debs.
  (cd "$debs" && timeout 600 apt-get download -q -o APT::Sandbox::User=root \
    {cpp,gcc,g++}-12-s390x-linux-gnu binutils-s390x-linux-gnu \
    lib{c6,c6-dev,gcc-s1,gcc-12-dev,stdc++6,stdc++-12-dev,atomic1}-s390x-cross \
    linux-libc-dev-s390x-cross {zlib1g,zlib1g-dev,libdeflate0,libdeflate-dev}:s390x >/dev/null)
  for l in "$debs"/*.deb; do dpkg -x "$l" "$root"; done
  echo "  unpacked $(du -sh "$debs" | cut -f1) of packages: $(cd "$debs" && echo *.deb)"
  while IFS= read -r l; do
    ln -sfn "$(realpath -m --relative-to="$(dirname "$l")" "$root$(readlink "$l")")" "$l"
  done < <(find "$root" -type l -lname '/*')
  for l in "$root"/usr/bin/s390x-linux-gnu-*; do
    ! readelf -d "$l" 2>/dev/null | grep -q "NEEDED.*s390x" ||
      patchelf --force-rpath --set-rpath "\$ORIGIN/../lib/x86_64-linux-gnu" "$l"
  done
  for l in "$root"/usr/lib/x86_64-linux-gnu/*s390x.so; do
    patchelf --force-rpath --set-rpath "\$ORIGIN" "$(realpath "$l")"
  done
  "$root/usr/bin/s390x-linux-gnu-g++-12" --version | sed -n 1p
}

# each_elf DIR WHAT CHECK: CHECK FILE (saying what is wrong with FILE) holds
# for every ELF program and shared library below DIR, and there are some.
each_elf() {
  local f n=0 bad=0
  while IFS= read -r f; do
    n=$((n + 1))
    "$3" "$f" || bad=1
  done < <(find "$1" -path "$1/CMakeFiles" -prune -o -type f \( -name '*.so*' -o -perm -u+x \) \
    -exec sh -c 'head -c4 "$1" | grep -q ELF' _ {} \; -print)
  echo "  $n ELF files, $2"
  ((n > 0)) && return $bad
}

is_s390x() { file -b "$1" | grep -q '^ELF 64-bit MSB .*IBM S/390' || { echo "  not s390x: $1: $(file -b "$1")" >&2; return 1; }; }

uses_libcxx() {
  local needed && needed=$(readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')
  [[ " $needed" == *" libc++.so"* && " $needed" != *" libstdc++"* ]] || { echo "  $1 needs: $needed" >&2; return 1; }
}

# same_example PRESET REFERENCE: the example's file of PRESET's build equals
# REFERENCE's byte for byte and the Python reader decodes it; the records the
# Python writer makes load (or are refused) in PRESET's build. A zlib
# backend's file, dumped and written back (--write), is the same file: both
# make zlib's level-6 stream.
same_example() {
  local work=build/$1-example run
  read -ra run <<<"$(emulator "build/$1")"
  rm -rf "$work" && mkdir -p "$work"
  "build/$2/examples/qmdata_example" "$work/$2.bin" >/dev/null
  "${run[@]}" "build/$1/examples/qmdata_example" "$work/$1.bin" | sed "s/^/  $1: /"
  cmp "$work/$2.bin" "$work/$1.bin"
  echo "  the example's files of $1 and $2 are equal: $(stat -c %s "$work/$1.bin") bytes"
  python3 python/qmdata_format.py --records slice,vector:z,qualtag "$work/$1.bin" >"$work/$1.json"
  if [ "$2" = zlib ]; then
    python3 python/qmdata_format.py --write "$work/$1.json" "$work/$1-back.bin"
    cmp "$work/$1.bin" "$work/$1-back.bin"
  fi
  python3 python/crosscheck.py decode tests/data "$work/$1.bin"
  crosscheck_cases "$work/cases" timeout 600 "${run[@]}" "build/$1/tests/crosscheck_test"
}

target_s390x() {
  need_foreign_arch s390x  # for apt-get download to see the s390x libraries
  need_packages binutils libisl23 libmpc3 libmpfr6 libcc1-0 libjansson4 patchelf \
    qemu-user-static googletest python3 file
  s390x_root
  ci_preset -r zlib s390x
  [ -n "$(emulator build/s390x)" ] || { echo "  no qemu-s390x" >&2; return 1; }
  each_elf build/s390x "all 64-bit big-endian s390x" is_s390x
  same_example s390x zlib
}

target_libcxx() {
  need_packages clang libc++-dev libc++abi-dev libclang-rt-14-dev googletest python3
  [ -s build/asan.results ] || ci_preset asan
  # The thread-cancellation test needs libstdc++'s forced-unwind exception.
  grep -v '^RecordFailure\.CancelledLoadUnwindsItsThread ' build/asan.results >build/asan-libstdcxx.results
  ci_preset -r asan-libstdcxx libcxx-asan
  each_elf build/libcxx-asan "each linked with libc++ and not libstdc++" uses_libcxx
  same_example libcxx-asan asan
}

# Each test program once under memcheck, all its tests in one process; any
# error (invalid access, uninitialised use, bad free, a definite or indirect
# leak) fails. nouserintercepts: replaced allocation operators stay.
memcheck_one() {
  local rc=0 errors
  (cd "${1%/*}" && timeout 900 valgrind --error-exitcode=99 --leak-check=full \
    --show-leak-kinds=definite,indirect --errors-for-leak-kinds=definite,indirect \
    --fair-sched=try --soname-synonyms=somalloc=nouserintercepts --num-callers=30 \
    --log-file="$1.memcheck.log" "$1" --gtest_brief=1 >"$1.out" 2>&1) || rc=$?
  errors=$(sed -n 's/.*ERROR SUMMARY: \([0-9]*\) errors.*/\1/p' "$1.memcheck.log" | tail -1)
  printf '  %-44s exit %3d, %s memcheck errors\n' "${1##*/}" "$rc" "${errors:-?}"
  [ "$rc" -eq 0 ] || { tail -n 40 "$1.out"; grep -v '^==[0-9]*== *$' "$1.memcheck.log" | head -n 80; }
  return "$rc"
}
memcheck_all() {
  export -f memcheck_one
  find "$ROOT/build/valgrind/tests" -maxdepth 1 -type f -name '*_test' -perm -u+x | sort >"$1.programs"
  [ -s "$1.programs" ] || { echo "no test programs" >&2; return 1; }
  xargs -P "${JOBS:-2}" -I{} bash -c 'memcheck_one "$1"' _ {} <"$1.programs"
  sed 's/$/ Passed/' "$1.programs" >"$1"
}
target_valgrind() { need_packages valgrind; ci_preset -t memcheck_all valgrind; }

for t in "$@"; do
  declare -F "target_$t" >/dev/null || { echo "unknown target $t" >&2; exit 2; }
  "target_$t"
done
