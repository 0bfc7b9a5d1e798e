#!/usr/bin/env bash
# Builds and runs every test twice: a normal build (build/) and an
# AddressSanitizer + UndefinedBehaviorSanitizer build (build-asan/); then the
# lock's and the concurrency tests under ThreadSanitizer (build-tsan/); then each fuzz
# target for a minute under AddressSanitizer and UndefinedBehaviorSanitizer
# (build-fuzz/, clang; ZX_FUZZ_SECONDS changes the minute); then the Windows
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
run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZX_BUILD_TESTS=ON -DZX_BUILD_BENCHMARKS=ON
echo "== installed tree =="
tests/install/run.sh build
echo "== sanitizer build =="
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DZX_SANITIZE=ON -DZX_BUILD_BENCHMARKS=OFF
echo "== thread sanitizer build (lock and concurrency tests) =="
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZX_TSAN=ON -DZX_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build build-tsan -j "$jobs" --target zx_unit_tests
# Ten seconds of threads on each backend, and four processes on one store.
TSAN_OPTIONS=halt_on_error=1 ZX_CONCURRENCY_SECONDS=10 LD_LIBRARY_PATH="$PWD/build-tsan/simlib" \
  build-tsan/tests/zx_unit_tests --gtest_filter='PlatformNamedLock.*:Vendors/Concurrency.*:ConcurrentStore.*'

echo "== fuzz targets (libFuzzer, ASan+UBSan) =="
fuzz_targets=(carddata_profile ini_reader discovery store voltage)
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZX_FUZZ=ON \
  -DZX_BUILD_TESTS=OFF -DZX_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build build-fuzz -j "$jobs" --target "${fuzz_targets[@]/#/fuzz_}"
fuzz_one() {
  local t=$1
  mkdir -p "build-fuzz/corpus/$t" build-fuzz/findings
  # The committed corpus seeds the run; new inputs go to build-fuzz/corpus.
  # A finding is left in build-fuzz/findings/ and fails the step: add it to
  # fuzz/corpus/$t/ under a name that says what it caught, with the fix.
  build-fuzz/fuzz/fuzz_$t -max_total_time="${ZX_FUZZ_SECONDS:-60}" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="build-fuzz/findings/$t-" "build-fuzz/corpus/$t" "fuzz/corpus/$t" \
    >"build-fuzz/$t.log" 2>&1 || { echo "fuzz_$t found a fault:"; tail -40 "build-fuzz/$t.log"; return 1; }
  grep -E '^stat::number_of_executed_units' "build-fuzz/$t.log" | sed "s/^/fuzz_$t /"
}
# Two at a time, one per core.
fuzz_failed=0
for ((i = 0; i < ${#fuzz_targets[@]}; i += jobs)); do
  pids=()
  for t in "${fuzz_targets[@]:i:jobs}"; do
    fuzz_one "$t" & pids+=($!)
  done
  for p in "${pids[@]}"; do wait "$p" || fuzz_failed=1; done
done
[ "$fuzz_failed" -eq 0 ]

echo "== windows builds (MinGW-w64) and tests under Wine =="
scripts/test-windows.sh build

# ---- generated mutants (scripts/mutate.py) ------------------------------------
# A dozen one-line mutants drawn with a fixed seed, applied in place and run
# against build/: a survivor that is not a listed equivalent
# (scripts/mutants-equivalent.txt) fails the run, so a test removed later, or
# code added without one, shows up. About 4 CPU-minutes (10 minutes of wall
# time measured on a busy shared 2-core machine); the score line comes last.
echo "== generated mutants (seed 21, 12 mutants) =="
scripts/mutate.py --in-place --build-dir build --seed 21 --sample 12
# ---- end of generated mutants ----------------------------------------------------
