#!/usr/bin/env bash
# Installs a build into a temporary prefix and uses it as an outsider would:
# builds a C consumer through find_package and through pkg-config, runs both,
# and runs zxctl on a simulated machine from the installed tree.
# Usage: tests/install/run.sh BUILD_DIR
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"

cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$(dirname "$(find "$prefix" -name 'libzxdisplay.so' | head -n 1)")
test -L "$libdir/libzxdisplay.so" && test -L "$libdir/libzxdisplay.so.0"
test -f "$prefix/include/zxdisplay.h"
test -f "$prefix/share/man/man1/zxctl.1" && test -f "$prefix/share/man/man1/zxcarddata.1"

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

run_isolated "$prefix/bin/zxctl" --simulate nvidia-kind1 info >"$work/info.txt"
grep -q '10DE_0622_B111_7A3C' "$work/info.txt"
echo "installed tree: find_package and pkg-config consumers built and ran; zxctl --simulate works"
