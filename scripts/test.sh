#!/usr/bin/env bash
# Builds and runs every test twice: a normal build (build/) and an
# AddressSanitizer + UndefinedBehaviorSanitizer build (build-asan/); then the
# lock's thread tests under ThreadSanitizer (build-tsan/); then the Windows
# DLLs (MinGW-w64 cross-builds) and their tests under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

jobs=$(nproc 2>/dev/null || echo 2)
run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  (cd "$dir" && ctest --output-on-failure -j "$jobs" --timeout 300)
}

echo "== normal build =="
run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo
echo "== installed tree =="
tests/install/run.sh build
echo "== sanitizer build =="
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DZX_SANITIZE=ON -DZX_BUILD_BENCHMARKS=OFF
echo "== thread sanitizer build (lock tests) =="
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZX_TSAN=ON -DZX_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build build-tsan -j "$jobs" --target zx_unit_tests
TSAN_OPTIONS=halt_on_error=1 build-tsan/tests/zx_unit_tests --gtest_filter='PlatformNamedLock.*'
echo "== windows builds (MinGW-w64) and tests under Wine =="
scripts/test-windows.sh build
