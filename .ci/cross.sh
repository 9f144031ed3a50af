#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Cross-target builds and test runs on a Debian 12 x86-64 host (run as root in
# CI; installs the packages it needs when they are missing).
#
#   .ci/cross.sh [TARGET...]   TARGET: i386, win32, win64 (default: all three)
#
#   i386   32-bit Linux (-m32, i386 multiarch), the whole test suite with
#          AddressSanitizer and UndefinedBehaviorSanitizer (there is no TSan
#          on i386).
#   win32  the 32-bit Windows DLL built with MinGW-w64 (-posix compilers,
#          shared libgcc, static libstdc++, zlib backend, GoogleTest from
#          Debian's googletest sources); the imports and exports of every
#          module are checked and the whole test suite runs under 32-bit Wine.
#   win64  the same for x86-64 Windows (LLP64: long is 4 bytes; fully static).
#
# Each target also installs its build and builds and runs the consumer
# (tests/consumer) against the installed package.
#
# Hosts whose kernel runs 64-bit code only (IA-32 emulation off: an i386
# execve fails with ENOEXEC) get the i386 tests through qemu-user instead,
# with LeakSanitizer off (it cannot stop the world under qemu; the native
# sanitizer and valgrind runs cover leaks). Wine's 32-bit loader cannot run
# there, so the win32 programs run in the virtual machine of
# ../shared/run32/run32.sh (QEMU, a kernel that runs 32-bit code; slow, and
# the first run makes its Wine prefix), one boot for the whole suite; without
# that script they are built and checked but not run, with a notice.
#
# Environment: QMDATA_CROSS_DIR (build root, default build/ci-cross), JOBS
# (default 2), RUN32 (default ../shared/run32/run32.sh from the repository
# root). Every step that can hang runs under a timeout and every step
# prints its wall time.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
# run32.sh: CI clones the repository with shared/ beside it.
RUN32=${RUN32:-$ROOT/../shared/run32/run32.sh}
OUT=${QMDATA_CROSS_DIR:-$ROOT/build/ci-cross}
JOBS=${JOBS:-2}
TARGETS=("$@")
# win64 first: win32 is compared with its list of passed tests.
((${#TARGETS[@]})) || TARGETS=(i386 win64 win32)

# shellcheck source=.ci/lib.sh
source "$ROOT/.ci/lib.sh"

print_summary() {
  local rc=$?
  if [ -n "${WINEPREFIX:-}" ] && command -v wineserver >/dev/null; then
    timeout 30 wineserver -k >/dev/null 2>&1 || true
  fi
  print_step_times cross.sh "$rc"
}
trap print_summary EXIT
# An outer timeout's TERM still stops the wineserver and prints the times.
trap 'exit 143' TERM INT

# --- i386 Linux, ASan + UBSan ------------------------------------------------

install_i386() {
  need_foreign_arch i386
  need_packages cmake ninja-build g++ g++-multilib zlib1g-dev:i386 \
    libdeflate-dev:i386 libgtest-dev:i386
}

# Whether this kernel executes i386 programs (needs g++-multilib).
I386_NATIVE=
can_run_i386() {
  if [ -z "$I386_NATIVE" ]; then
    local probe=$OUT/i386-probe
    mkdir -p "$OUT"
    echo 'int main() { return 0; }' | gcc -m32 -x c - -o "$probe"
    if "$probe" 2>/dev/null; then I386_NATIVE=yes; else I386_NATIVE=no; fi
    echo "i386 programs run natively: $I386_NATIVE"
  fi
  [ "$I386_NATIVE" = yes ]
}

I386_EMULATOR=()
install_i386_emulator() {
  need_packages qemu-user
}

build_i386() {
  local b=$OUT/i386 san="-fsanitize=address,undefined -fno-sanitize-recover=all"
  # The toolchain file's -m32 only seeds the default flags, so it is repeated
  # here where the flags are set explicitly.
  timeout 300 cmake -S "$ROOT" -B "$b" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/linux-i686.cmake" \
    -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_FLAGS="-m32 -O1 $san -fno-omit-frame-pointer" \
    -DCMAKE_EXE_LINKER_FLAGS="-m32 $san" \
    -DCMAKE_SHARED_LINKER_FLAGS="-m32 $san" "${I386_EMULATOR[@]}" >/dev/null
  timeout 1200 cmake --build "$b" -j"$JOBS"
  # The programs really are 32-bit.
  readelf -h "$b/libqmdata.so" | grep 'Class:' | grep -q 'ELF32'
}

test_i386() {
  local leaks=1
  ((${#I386_EMULATOR[@]} == 0)) || leaks=0
  ASAN_OPTIONS=detect_leaks=$leaks:abort_on_error=1 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    timeout 1200 ctest --test-dir "$OUT/i386" -j"$JOBS" --timeout 300 \
    --output-on-failure
}

# The consumer against the installed i386 build (built with the same
# sanitizers, since the library carries them).
consumer_i386() {
  local b=$OUT/i386 stage=$OUT/i386-stage work=$OUT/i386-consumer
  local san="-fsanitize=address,undefined -fno-sanitize-recover=all"
  rm -rf "$stage" "$work"
  cmake --install "$b" --prefix "$stage" >/dev/null
  cmake -S "$ROOT/tests/consumer" -B "$work" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/linux-i686.cmake" \
    -DCMAKE_CXX_FLAGS="-m32 $san" -DCMAKE_EXE_LINKER_FLAGS="-m32 $san" \
    -DCMAKE_PREFIX_PATH="$stage" >/dev/null
  cmake --build "$work" >/dev/null
  local run=()
  can_run_i386 || run=(qemu-i386)
  ASAN_OPTIONS=detect_leaks=$((${#run[@]} == 0)) LD_LIBRARY_PATH="$stage/lib" \
    timeout 300 "${run[@]}" "$work/consumer"
}

# --- Windows under Wine -------------------------------------------------------

install_wine() {  # $1: i686 or x86_64
  if [ "$1" = i686 ]; then
    need_foreign_arch i386
    need_packages wine wine32 wine64
    # What run32.sh's virtual machine needs, installed here with the
    # retried apt-get update (run32.sh would update once, without retries).
    can_run_i386 || need_packages qemu-system-x86 busybox-static
  else
    need_packages wine wine64
  fi
}

install_win() {  # $1: i686 or x86-64
  need_packages cmake ninja-build pkg-config googletest "g++-mingw-w64-$1-posix" \
    libz-mingw-w64-dev
}

# The DLL and every program go to bin/, where Windows looks for a program's
# DLLs first.
build_win() {  # $1: i686 or x86_64
  local b=$OUT/mingw-$1
  timeout 300 cmake -S "$ROOT" -B "$b" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-$1.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DQMDATA_COMPRESSION=zlib \
    -DQMDATA_BUNDLED_GTEST=ON -DCMAKE_RUNTIME_OUTPUT_DIRECTORY="$b/bin" >/dev/null
  timeout 1800 cmake --build "$b" -j"$JOBS"
}

# The runtime DLLs that the DLL and every program need beside them: none on
# x86-64 (static runtime, SEH unwinding); on i686 the shared libgcc (DWARF-2
# unwinding keeps its frame tables in libgcc, so the process must have one
# copy) and the winpthread it imports.
runtime_dlls() {  # $1: i686 or x86_64
  [ "$1" = x86_64 ] || echo libgcc_s_dw2-1.dll libwinpthread-1.dll
}

# Every module imports only the system DLLs, the two libraries' DLLs
# (libqmdata.dll, libqmdata_rtarchive.dll) and the target's runtime DLLs; on
# i686 each imports the shared libgcc and defines no unwinder of its own.
check_modules() {  # $1: i686 or x86_64, then the modules
  local arch=$1 objdump=$1-w64-mingw32-objdump nm=$1-w64-mingw32-nm f d bad=0
  shift
  local allowed=" kernel32.dll msvcrt.dll libqmdata.dll libqmdata_rtarchive.dll $(runtime_dlls "$arch") "
  for f in "$@"; do
    case " $(runtime_dlls "$arch") " in *" $(basename "$f") "*) continue ;; esac
    local dlls
    dlls=$("$objdump" -p "$f" | sed -n 's/^\s*DLL Name: //p' | sort -u | tr '\n' ' ')
    echo "  $(basename "$f"): $dlls"
    for d in $dlls; do
      case $allowed in
        *" ${d,,} "*) ;;
        *) echo "  unexpected import $d in $f" >&2; bad=1 ;;
      esac
    done
    if [ "$arch" = i686 ]; then
      case " ${dlls,,} " in
        *" libgcc_s_dw2-1.dll "*) ;;
        *) echo "  $f does not import the shared libgcc" >&2; bad=1 ;;
      esac
      # An unwinder function defined here, not as the thunk of an import.
      local syms x
      syms=$("$nm" "$f")
      for x in ___register_frame_info __Unwind_RaiseException __Unwind_Find_FDE; do
        if grep -qE " [Tt] $x\$" <<<"$syms" && ! grep -q " I __imp_$x\$" <<<"$syms"; then
          echo "  $f links its own copy of the unwinder ($x)" >&2
          bad=1
        fi
      done
    fi
  done
  return $bad
}

check_win_imports() {  # $1: i686 or x86_64
  local b=$OUT/mingw-$1 objdump=$1-w64-mingw32-objdump d bad=0
  check_modules "$1" "$b"/bin/*.dll "$b"/bin/*.exe || bad=1
  for d in $(runtime_dlls "$1"); do
    [ -f "$b/bin/$d" ] || { echo "  $d is not beside libqmdata.dll" >&2; bad=1; }
  done
  local values archive
  values=$("$objdump" -p "$b/bin/libqmdata.dll")
  archive=$("$objdump" -p "$b/bin/libqmdata_rtarchive.dll")
  grep -q 'vectorIiE' <<<"$values" ||
    { echo "  libqmdata.dll exports no vector<int> members" >&2; bad=1; }
  grep -q 'QmRTArchive' <<<"$archive" ||
    { echo "  libqmdata_rtarchive.dll exports no QmRTArchive members" >&2; bad=1; }
  grep -qi 'DLL Name: libqmdata_rtarchive.dll' <<<"$values" ||
    { echo "  libqmdata.dll does not import libqmdata_rtarchive.dll" >&2; bad=1; }
  return $bad
}

# Installs the build and builds the consumer against the install, twice:
# with find_package (no link options of its own but its choice of libstdc++,
# so the package's interface supplies the rest) and with pkg-config. The
# programs go beside a copy of the installed bin/ DLLs: what a user ships.
consumer_win() {  # $1: i686 or x86_64
  local b=$OUT/mingw-$1 stage=$OUT/mingw-$1-stage work=$OUT/mingw-$1-consumer
  local cxx=$1-w64-mingw32-g++-posix own=-static-libstdc++ d
  [ "$1" = i686 ] || own=-static
  rm -rf "$stage" "$work"
  cmake --install "$b" --prefix "$stage" >/dev/null
  for d in $(runtime_dlls "$1") libqmdata_rtarchive.dll; do
    [ -f "$stage/bin/$d" ] || { echo "  $d is not installed beside libqmdata.dll" >&2; return 1; }
  done
  cmake -S "$ROOT/tests/consumer" -B "$work/cmake" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-$1.cmake" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_EXE_LINKER_FLAGS="$own" -Dqmdata_DIR="$stage/lib/cmake/qmdata" >/dev/null
  cmake --build "$work/cmake" >/dev/null
  mkdir -p "$work/app"
  cp "$stage"/bin/*.dll "$work/app/"
  cp "$work/cmake/consumer.exe" "$work/app/consumer.exe"
  local flags
  flags=$(PKG_CONFIG_PATH="$stage/lib/pkgconfig" PKG_CONFIG_SYSROOT_DIR= pkg-config --cflags --libs qmdata)
  echo "  pkg-config: $flags"
  # x86-64 links everything else statically, and qmdata through its import
  # library, which -static alone would not look for.
  local pre=() post=()
  [ "$1" = i686 ] || { pre=(-Wl,-Bdynamic); post=(-Wl,-Bstatic); }
  # shellcheck disable=SC2086
  "$cxx" -std=c++20 -O1 "$ROOT/tests/consumer/main.cc" -o "$work/app/consumer-pc.exe" \
    $own "${pre[@]}" $flags "${post[@]}"
  check_modules "$1" "$work"/app/consumer*.exe
}

# Wine prefix, wineserver and the Wine services, started detached from any
# pipe: a service that inherits ctest's output pipe keeps ctest waiting for
# end-of-file for ever.
# WINE: the loader for the target's programs; the 64-bit one is named
# directly, since Debian's wrapper picks the 32-bit loader whenever wine32 is
# installed. One 64-bit (WoW64) prefix serves both architectures.
wine_env() {  # $1: i686 or x86_64
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEPREFIX=$OUT/wine
  unset DISPLAY
  if [ "$1" = x86_64 ]; then
    WINE=/usr/lib/wine/wine64
    export WINELOADER=$WINE
  else
    WINE=wine
    unset WINELOADER
  fi
}

start_wine() {
  mkdir -p "$WINEPREFIX"
  # A server left over from an earlier run would not be persistent.
  timeout 30 wineserver -k </dev/null >/dev/null 2>&1 || true
  timeout 60 wineserver -p </dev/null >/dev/null 2>&1
  timeout 300 "$WINE" wineboot -i </dev/null >/dev/null 2>&1
  timeout 120 "$WINE" cmd /c exit </dev/null >/dev/null 2>&1
}

test_win() {  # $1: i686 or x86_64
  # The tests find their fixtures through an absolute Linux path, which Wine
  # reaches through its Z: drive (Z: is /). The build was configured before
  # Wine was installed, so ctest learns its loader now.
  cmake "$OUT/mingw-$1" -DCMAKE_CROSSCOMPILING_EMULATOR="$WINE" >/dev/null
  timeout 1500 ctest --test-dir "$OUT/mingw-$1" -j"$JOBS" --timeout 300 \
    --output-on-failure
}

# The test programs run directly (the comparison of win32 with win64 needs
# the names of the passed tests), and the consumers.
suite_win() {  # $1: i686 or x86_64, $2: loader
  cd "$OUT/mingw-$1/bin"
  timeout 1500 sh "$ROOT/.ci/wine-suite.sh" "$2" "$OUT/passed-$1" \
    "$OUT/mingw-$1-consumer/app/consumer.exe" "$OUT/mingw-$1-consumer/app/consumer-pc.exe"
}

# The i686 suite and consumers under 32-bit Wine: run32.sh runs them here
# where the kernel runs 32-bit code, or else in its virtual machine, where
# only the program directory is writable (hence the list of passed tests
# there), with one boot for all programs.
suite_win32() {
  local b=$OUT/mingw-i686 app=$OUT/mingw-i686-consumer/app
  "$RUN32" "$b/bin" sh "$ROOT/.ci/wine-suite.sh" wine "$b/bin/passed-i686" \
    "$app/consumer.exe" "$app/consumer-pc.exe"
}

# Every test that passes on x86-64 Windows passes on i686 Windows.
compare_win() {
  local w32=$OUT/mingw-i686/bin/passed-i686 w64=$OUT/passed-x86_64 missing
  missing=$(comm -13 <(sort "$w32") <(sort "$w64"))
  echo "  i686 passes $(comm -12 <(sort "$w32") <(sort "$w64") | wc -l) of the $(wc -l <"$w64") tests that pass on x86-64"
  [ ! -s "$w32.skipped" ] || { echo "  skipped on i686:"; sed 's/^/    /' "$w32.skipped"; }
  [ -z "$missing" ] || { echo "  not passed on i686:"; echo "$missing" | sed 's/^/    /'; return 1; }
}

stop_wine() {
  timeout 30 wineserver -k >/dev/null 2>&1 || true
}

skipped() {
  SUMMARY+=("$(printf '%-34s %4s   %s' "$1" - "SKIPPED: $2")")
  echo "::: $1: SKIPPED: $2"
}

# --- main ---------------------------------------------------------------------

mkdir -p "$OUT"
for t in "${TARGETS[@]}"; do
  case $t in
    i386)
      step "i386: install packages" install_i386
      if ! can_run_i386; then
        step "i386: install qemu-user" install_i386_emulator
        I386_EMULATOR=(-DCMAKE_CROSSCOMPILING_EMULATOR="$(command -v qemu-i386)")
      fi
      step "i386: configure+build (ASan+UBSan)" build_i386
      step "i386: ctest${I386_EMULATOR:+ under qemu-i386}" test_i386
      step "i386: consumer of the install" consumer_i386
      ;;
    win32 | win64)
      if [ "$t" = win32 ]; then arch=i686 pkg=i686; else arch=x86_64 pkg=x86-64; fi
      step "$t: install packages" install_win "$pkg"
      step "$t: configure+build" build_win "$arch"
      step "$t: check imports/exports" check_win_imports "$arch"
      step "$t: consumer of the install" consumer_win "$arch"
      if [ "$arch" = i686 ]; then
        step "$t: install g++-multilib" need_packages g++-multilib
        if ! can_run_i386 && [ ! -x "$RUN32" ]; then
          skipped "$t: tests under wine" "no 32-bit x86 code here and no $RUN32"
          continue
        fi
        step "$t: install wine" install_wine "$arch"
        step "$t: tests under wine32$(can_run_i386 || echo ' (vm)')" suite_win32
        [ ! -s "$OUT/passed-x86_64" ] || step "$t: compare with win64" compare_win
        continue
      fi
      step "$t: install wine" install_wine "$arch"
      wine_env "$arch"
      step "$t: start wine" start_wine
      step "$t: ctest under wine" test_win "$arch"
      step "$t: tests+consumer, one wine" suite_win "$arch" "$WINE"
      step "$t: stop wine" stop_wine
      ;;
    *)
      echo "unknown target $t (i386, win32, win64)" >&2
      exit 2
      ;;
  esac
done
