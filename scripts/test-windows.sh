#!/usr/bin/env bash
# The Windows step: cross-builds ZXDisplayLib.dll for i686 (build-win32/) and
# x86_64 (build-win64/) with MinGW-w64, checks the exports of both, and runs
# the x86_64 test suite under Wine in a Wine prefix of its own in a temporary
# folder. Without Wine the tests are skipped, loudly, and the DLLs still built.
# Usage: scripts/test-windows.sh [LINUX_BUILD_DIR]   (default build/; its
# zxcarddata encodes the card data file that the Windows build must decode)
set -euo pipefail
cd "$(dirname "$0")/.."
linux_build=${1:-build}
jobs=$(nproc 2>/dev/null || echo 2)

for arch in i686 x86_64; do
  dir=build-win$([ $arch = i686 ] && echo 32 || echo 64)
  echo "-- $arch: $dir"
  # The toolchain file counts only when the build folder is made.
  toolchain=()
  [ -f "$dir/CMakeCache.txt" ] || toolchain=(-DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-$arch.cmake)
  cmake -S . -B "$dir" -G Ninja "${toolchain[@]}" -DCMAKE_BUILD_TYPE=Release -DZX_BUILD_TESTS=$([ $arch = i686 ] && echo OFF || echo ON) >/dev/null
  cmake --build "$dir" -j "$jobs"
  scripts/check-exports.sh "$dir/src/ZXDisplayLib.dll" $arch-w64-mingw32-objdump
done

# A C host compiled against the header and linked with the i686 import
# library: its stdcall references must bind to the plain export names.
i686-w64-mingw32-gcc -std=c99 -Wall -Wextra -Werror -pedantic -Iinclude tests/win32/host.c \
  -Lbuild-win32/src -lZXDisplayLib -o build-win32/zxhost_win.exe
imports=$(i686-w64-mingw32-objdump -p build-win32/zxhost_win.exe |
  sed -n '/DLL Name: ZXDisplayLib.dll/,/^$/p' | awk 'NR > 2 && NF >= 3 {print $3}' | sort | tr '\n' ' ')
expected="ZXDeInitLib ZXGetLockLibStatus ZXInitLib ZXSetFanSpeedDefault ZXSetLockLibStatus "
if [ "$imports" != "$expected" ]; then
  echo "i686 host imports from ZXDisplayLib.dll: '$imports', expected '$expected'" >&2
  exit 1
fi
echo "-- i686 host binds to the plain names: $imports"

wine64=$(command -v wine64 || true)
[ -n "$wine64" ] || { [ -x /usr/lib/wine/wine64 ] && wine64=/usr/lib/wine/wine64; } || true
skip() {
  echo
  echo "########################################################################"
  echo "##  SKIPPED: Windows tests under Wine -- $1"
  echo "##  The DLLs were built and their exports checked; nothing ran on Windows."
  echo "########################################################################"
  echo
  exit 0
}
[ -n "$wine64" ] || skip "wine64 is not installed (scripts/setup.sh installs it)"
[ -x "$linux_build/tools/zxcarddata" ] || skip "no Linux build of zxcarddata in $linux_build"

tmp=$(mktemp -d)
export WINEPREFIX=$tmp/prefix HOME=$tmp/home WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export XDG_CONFIG_HOME=$tmp/home/.config XDG_DATA_HOME=$tmp/home/.local/share XDG_CACHE_HOME=$tmp/home/.cache
mkdir -p "$HOME"
cleanup() {
  wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver64)
  "$wineserver" -k >/dev/null 2>&1 || true
  rm -rf "$tmp"
}
trap cleanup EXIT

# One fresh prefix for the whole run (wineboot takes a while).
if ! timeout 300 "$wine64" wineboot -i >"$tmp/wineboot.log" 2>&1; then
  cat "$tmp/wineboot.log" >&2
  skip "wine64 wineboot failed (log above)"
fi

# A profile of several 1000-byte blocks, enciphered by the Linux build.
mkdir -p "$tmp/linux" "$tmp/run"
{
  for card in 10DE_0611_A102_7A3C 1002_9440_0502_1787 10DE_0622_B111_7A3C; do
    echo "[$card]"
    for i in $(seq 0 60); do echo "Key$i=$((i * 37)) value of $card"; done
  done
} > "$tmp/linux/profile.ini"
"$linux_build/tools/zxcarddata" encode "$tmp/linux/profile.ini" -o "$tmp/linux/CARD.DAT"
windows_path() { printf 'Z:%s' "$1" | tr / '\\'; }
export ZX_TEST_LINUX_CARD_DATA=$(windows_path "$tmp/linux/CARD.DAT")
export ZX_TEST_LINUX_CARD_PROFILE=$(windows_path "$tmp/linux/profile.ini")

# The run folder: the tests, the host, the library and the simulator DLLs.
cp build-win64/simlib/*.dll build-win64/simlib/*.exe "$tmp/run/"
echo "-- x86_64 tests under $("$wine64" --version 2>/dev/null || echo wine64)"
(cd "$tmp/run" && timeout 600 "$wine64" zx_win32_tests.exe --gtest_brief=1)
