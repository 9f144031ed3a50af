#!/usr/bin/env bash
# Cross-target builds and test runs on a Debian 12 x86-64 host (run as root in
# CI; installs the packages it needs when they are missing).
#
#   .ci/cross.sh [TARGET...]   TARGET: i386, win32, win64 (default: all three)
#
#   i386   32-bit Linux (-m32, i386 multiarch), the whole test suite with
#          AddressSanitizer and UndefinedBehaviorSanitizer (there is no TSan
#          on i386).
#   win32  the 32-bit Windows DLL built with MinGW-w64 (-posix compilers,
#          static runtime, zlib backend, GoogleTest from Debian's googletest
#          sources); the DLL's imports and exports are checked and the whole
#          test suite runs under Wine.
#   win64  the same for x86-64 Windows (LLP64: long is 4 bytes).
#
# Hosts whose kernel runs 64-bit code only (IA-32 emulation off: an i386
# execve fails with ENOEXEC) get the i386 tests through qemu-user instead,
# with LeakSanitizer off (it cannot stop the world under qemu; the native
# sanitizer and valgrind runs cover leaks). Wine's 32-bit loader cannot run
# there at all, so win32 is built and checked but its tests are skipped with
# a notice, and win64 runs the suite under Wine.
#
# Environment: QMDATA_CROSS_DIR (build root, default build/ci-cross), JOBS
# (default 2). Every step that can hang runs under a timeout and every step
# prints its wall time.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
OUT=${QMDATA_CROSS_DIR:-$ROOT/build/ci-cross}
JOBS=${JOBS:-2}
TARGETS=("$@")
((${#TARGETS[@]})) || TARGETS=(i386 win32 win64)

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

need_i386_arch() {
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    APT_UPDATED=0
  fi
}

# --- i386 Linux, ASan + UBSan ------------------------------------------------

install_i386() {
  need_i386_arch
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

# --- Windows under Wine -------------------------------------------------------

install_wine() {  # $1: i686 or x86_64
  if [ "$1" = i686 ]; then
    need_i386_arch
    need_packages wine wine32 wine64
  else
    need_packages wine wine64
  fi
}

install_win() {  # $1: i686 or x86-64
  need_packages cmake ninja-build googletest "g++-mingw-w64-$1-posix" \
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

# The DLL and the test programs import only the system DLLs (and the DLL).
check_win_imports() {  # $1: i686 or x86_64
  local b=$OUT/mingw-$1 objdump=$1-w64-mingw32-objdump f bad=0
  for f in "$b"/bin/*.dll "$b"/bin/*.exe; do
    local dlls
    dlls=$("$objdump" -p "$f" | sed -n 's/^\s*DLL Name: //p' | sort -u | tr '\n' ' ')
    echo "  $(basename "$f"): $dlls"
    for d in $dlls; do
      case "${d,,}" in
        kernel32.dll | msvcrt.dll | libqmdata.dll) ;;
        *) echo "  unexpected import $d in $f" >&2; bad=1 ;;
      esac
    done
  done
  # (grep -c reads to the end: grep -q would cut objdump's pipe.)
  [ "$("$objdump" -p "$b/bin/libqmdata.dll" | grep -c 'vectorIiE')" -gt 0 ] ||
    { echo "  libqmdata.dll exports no vector<int> members" >&2; bad=1; }
  return $bad
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
  # reaches through its Z: drive (Z: is /).
  timeout 1500 ctest --test-dir "$OUT/mingw-$1" -j"$JOBS" --timeout 300 \
    --output-on-failure
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
      ;;
    win32 | win64)
      if [ "$t" = win32 ]; then arch=i686 pkg=i686; else arch=x86_64 pkg=x86-64; fi
      step "$t: install packages" install_win "$pkg"
      step "$t: configure+build" build_win "$arch"
      step "$t: check DLL imports/exports" check_win_imports "$arch"
      if [ "$arch" = i686 ]; then
        step "$t: install g++-multilib" need_packages g++-multilib
        if ! can_run_i386; then
          skipped "$t: ctest under wine" "this kernel runs no 32-bit x86 code"
          continue
        fi
      fi
      step "$t: install wine" install_wine "$arch"
      wine_env "$arch"
      step "$t: start wine" start_wine
      step "$t: ctest under wine" test_win "$arch"
      step "$t: stop wine" stop_wine
      ;;
    *)
      echo "unknown target $t (i386, win32, win64)" >&2
      exit 2
      ;;
  esac
done
