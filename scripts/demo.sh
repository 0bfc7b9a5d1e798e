#!/usr/bin/env bash
# Builds zxctl and shows a simulated card with it: the machine's
# information, its status, changes (a clock, the fan, the regulator's GPU
# voltage), and the changes undone. The simulated machine lives in
# ~/.local/state/zxdisplaylib/sim/ (or $XDG_STATE_HOME); the real machine's
# folders, store and card lock are not touched.
set -euo pipefail
cd "$(dirname "$0")/.."
# Only what zxctl needs: the tests' toolchain is scripts/test.sh's.
scripts/setup.sh build
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZX_BUILD_TESTS=OFF -DZX_BUILD_BENCHMARKS=OFF \
  >/dev/null
cmake --build build -j "$(nproc 2>/dev/null || echo 2)" --target zxctl >/dev/null

machine=${1:-nvidia-kind1}
run() {
  printf '$ zxctl --simulate %s %s\n' "$machine" "$*"
  build/tools/zxctl --simulate "$machine" "$@"
  echo
}
build/tools/zxctl --simulate "$machine" --reset-simulation lock status >/dev/null
run info
run status
run set gpu-clock 2 700
run set fan 70
run set voltage 1150
run watch --count 1
run reset all
