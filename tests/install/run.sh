#!/usr/bin/env bash
# Installs a build into a temporary prefix and uses it as an outsider would:
# builds a C consumer through find_package and through pkg-config, runs both,
# checks the manual pages with man -l, and runs zxctl on a simulated machine
# from the installed tree after moving the prefix elsewhere.
# Usage: tests/install/run.sh BUILD_DIR
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"

cmake --install "$build" --prefix "$prefix" >/dev/null
# The simulator is a component of its own, left out of a plain install.
test ! -e "$prefix/share/zxdisplaylib/sim-machines"
cmake --install "$build" --prefix "$prefix" --component simulator >/dev/null
test -d "$prefix/share/zxdisplaylib/sim-machines/nvidia-kind1"
libdir=$(dirname "$(find "$prefix" -name 'libzxdisplay.so' | head -n 1)")
test -L "$libdir/libzxdisplay.so" && test -L "$libdir/libzxdisplay.so.0"
test -f "$prefix/include/zxdisplay.h"
test -f "$prefix/share/doc/ZXDisplayLib/LICENSE"

# The manual pages render without a warning and name every command's exit
# status.
for page in zxctl zxcarddata; do
  file="$prefix/share/man/man1/$page.1"
  warnings=$(MANWIDTH=80 man --warnings -E UTF-8 -l "$file" 2>&1 >"$work/$page.txt")
  [ -z "$warnings" ] || { echo "$page.1: $warnings" >&2; exit 1; }
  for section in NAME SYNOPSIS 'EXIT STATUS' FILES EXAMPLES; do
    grep -q "^$section" "$work/$page.txt" || { echo "$page.1 lacks $section" >&2; exit 1; }
  done
done

# zxdisplay.pc names the prefix by clean absolute paths.
pc="$libdir/pkgconfig/zxdisplay.pc"
grep -qx "prefix=$prefix" "$pc" || { echo "zxdisplay.pc: $(head -n 1 "$pc")" >&2; exit 1; }
if grep -E '//|/\./|\.\.|pcfiledir' "$pc"; then echo "zxdisplay.pc paths are not clean" >&2; exit 1; fi

# The daemon's systemd unit runs the installed zxctl.
grep -qx "ExecStart=$prefix/bin/zxctl daemon $prefix/etc/zxdisplaylib/profile.toml" \
  "$prefix/lib/systemd/system/zxctl-daemon.service" || { echo "zxctl-daemon.service: wrong ExecStart" >&2; exit 1; }

# No string of an installed program or library names the build or source
# tree: nothing falls back to it.
for f in "$prefix/bin/zxctl" "$prefix/bin/zxcarddata" "$libdir"/libzxdisplay.so.*.*; do
  for tree in "$(cd "$build" && pwd)" "$PWD"; do
    if readelf -p .rodata -p .dynstr "$f" 2>/dev/null | grep -F "$tree"; then
      echo "$f names $tree" >&2
      exit 1
    fi
  done
done

# An empty machine: the consumers must start, find nothing and say so.
mkdir -p "$work/sys/bus/pci/devices" "$work/home" "$work/run"
chmod 700 "$work/run"
run_isolated() {
  env -u LD_LIBRARY_PATH HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_RUNTIME_DIR="$work/run" \
      XDG_STATE_HOME="$work/state" ZXDISPLAY_SYSFS_ROOT="$work/sys" "$@"
}

cmake -S tests/install -B "$work/cmake-consumer" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cmake-consumer" >/dev/null
run_isolated "$work/cmake-consumer/consumer" | grep -qx 'ZXInitLib: failed'

export PKG_CONFIG_PATH="$libdir/pkgconfig"
# shellcheck disable=SC2046
cc -std=c99 -Wall -Wextra -Werror -o "$work/pc-consumer" tests/install/consumer.c \
   $(pkg-config --cflags --libs zxdisplay) -Wl,-rpath,"$(pkg-config --variable=libdir zxdisplay)"
run_isolated "$work/pc-consumer" | grep -qx 'adapters: 0'

# The installed tree moved elsewhere still runs its simulated machines.
mv "$prefix" "$work/moved"
(cd / && run_isolated "$work/moved/bin/zxctl" --simulate nvidia-kind1 info) >"$work/info.txt"
grep -q '10DE_0622_B111_7A3C' "$work/info.txt"
grep -q "$work/moved/" "$work/info.txt"
echo "installed tree: find_package and pkg-config consumers built and ran; man pages render;" \
     "zxctl --simulate works from a moved prefix"
