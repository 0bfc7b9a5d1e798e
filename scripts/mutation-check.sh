#!/usr/bin/env bash
# Breaks the library on purpose, one fault at a time, and checks that the test
# suite notices each one. The faults are listed in scripts/mutations.tsv.
#
#   scripts/mutation-check.sh            every fault
#   scripts/mutation-check.sh ID...      only these
#   scripts/mutation-check.sh --check    only verify that every original text
#                                        still occurs exactly once
#   TESTS=REGEX scripts/mutation-check.sh ...
#                                        run only the tests ctest -R REGEX
#                                        selects (a quick look; the full
#                                        check runs every test)
#   EXCLUDE=REGEX ...                    leave out the tests ctest -E REGEX
#                                        names (default: the header check)
#   BUILD_TARGETS="zxdisplay" ...         rebuild only these targets per
#                                        fault (faults the end-to-end tests
#                                        catch need only the shared library)
#
# For each fault: the original text is replaced in its file, the tests are
# rebuilt in $BUILD_DIR (default build/) and ctest runs; the fault is caught
# when at least one test fails. The file is then copied back from a saved
# copy, also when the script is interrupted or fails. A fault that no longer
# applies or does not compile counts as an error. The report goes to stdout
# and to $BUILD_DIR/mutation-report.tsv; the exit status is 0 only when every
# fault was caught.
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD_DIR=${BUILD_DIR:-build}
MUTATIONS=${MUTATIONS:-scripts/mutations.tsv}
JOBS=${JOBS:-$(nproc 2>/dev/null || echo 2)}
TEST_TIMEOUT=${TEST_TIMEOUT:-120}
TESTS=${TESTS:-}
EXCLUDE=${EXCLUDE:-^header\.}
BUILD_TARGETS=${BUILD_TARGETS:-zx_unit_tests zx_e2e_tests}

check_only=0
if [[ ${1:-} == --check ]]; then
  check_only=1
  shift
fi
wanted=("$@")

# apply.py FILE ORIGINAL REPLACEMENT: replaces the one occurrence (\n, \t, \\
# escapes decoded); exit 3 when the original does not occur exactly once.
apply_fault() {
  python3 - "$@" <<'EOF'
import sys
def unescape(s):
    out, i = [], 0
    while i < len(s):
        if s[i] == "\\" and i + 1 < len(s):
            out.append({"n": "\n", "t": "\t", "\\": "\\"}.get(s[i + 1], "\\" + s[i + 1]))
            i += 2
        else:
            out.append(s[i])
            i += 1
    return "".join(out)
path, original, replacement, mode = sys.argv[1], unescape(sys.argv[2]), unescape(sys.argv[3]), sys.argv[4]
text = open(path, encoding="utf-8").read()
count = text.count(original)
if count != 1:
    print(f"{path}: original text found {count} times", file=sys.stderr)
    sys.exit(3)
if mode == "apply":
    open(path, "w", encoding="utf-8").write(text.replace(original, replacement))
EOF
}

saved_dir=$(mktemp -d)
pending=""   # the file currently broken, restored on any exit
restore() {
  if [[ -n $pending ]]; then
    # Copied back without keeping the saved time, so the build sees a change.
    cat "$saved_dir/file" >"$pending"
    pending=""
  fi
}
cleanup() {
  restore
  rm -rf "$saved_dir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# shellcheck disable=SC2086
build() { cmake --build "$BUILD_DIR" -j "$JOBS" --target $BUILD_TARGETS >"$saved_dir/build.log" 2>&1; }
# Runs ctest; prints the names of the failing tests, one per line.
failing_tests() {
  (cd "$BUILD_DIR" && ctest -j "$JOBS" --timeout "$TEST_TIMEOUT" -E "$EXCLUDE" ${TESTS:+-R "$TESTS"} >"$saved_dir/ctest.log" 2>&1) || true
  # "  12 - Name (Failed)"; a parameterized test's name is followed by "  # GetParam() = ...".
  sed -n 's/^[[:space:]]*[0-9]\+ - \([^ ]*\) .*(.*)$/\1/p' "$saved_dir/ctest.log"
}

# Tab is white space to read, which would merge an empty replacement with
# its neighbours; cut keeps every field.
split_row() {
  id=$(cut -f1 <<<"$1")
  file=$(cut -f2 <<<"$1")
  original=$(cut -f3 <<<"$1")
  replacement=$(cut -f4 <<<"$1")
}

rows=()
while IFS= read -r line; do
  [[ -z $line || $line == \#* ]] && continue
  rows+=("$line")
done <"$MUTATIONS"

if ((check_only)); then
  errors=0
  for row in "${rows[@]}"; do
    split_row "$row"
    apply_fault "$file" "$original" "$replacement" check || { echo "stale: $id"; errors=$((errors + 1)); }
  done
  echo "${#rows[@]} faults, $errors stale"
  exit $((errors != 0))
fi

if [[ ! -f $BUILD_DIR/build.ninja ]]; then
  cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZX_BUILD_BENCHMARKS=OFF >/dev/null
fi
echo "baseline: building and running the unbroken suite"
# Everything once, so that the tests the faults' builds leave out still run.
cmake --build "$BUILD_DIR" -j "$JOBS" >"$saved_dir/build.log" 2>&1 && build || { cat "$saved_dir/build.log"; echo "the unbroken tree does not build" >&2; exit 2; }
baseline=$(failing_tests)
if [[ -n $baseline ]]; then
  echo "the unbroken suite fails already:" >&2
  echo "$baseline" >&2
  exit 2
fi

report="$BUILD_DIR/mutation-report.tsv"
printf 'id\tresult\tfailing tests\n' >"$report"
caught=0 missed=0 errors=0 total=0
for row in "${rows[@]}"; do
  split_row "$row"
  if ((${#wanted[@]})); then
    match=0
    for w in "${wanted[@]}"; do [[ $w == "$id" ]] && match=1; done
    ((match)) || continue
  fi
  total=$((total + 1))
  cp "$file" "$saved_dir/file"
  pending=$file
  if ! apply_fault "$file" "$original" "$replacement" apply; then
    pending=""
    result="error: stale original text" tests="" all=""
    errors=$((errors + 1))
  elif ! build; then
    result="error: does not build" tests="" all=""
    errors=$((errors + 1))
  else
    failed=$(failing_tests)
    if [[ -n $failed ]]; then
      result="caught"
      caught=$((caught + 1))
      all=$(echo "$failed" | paste -sd, -)
      tests=$(echo "$failed" | head -3 | paste -sd, -)
      n=$(echo "$failed" | wc -l)
      ((n > 3)) && tests+=" (+$((n - 3)) more)"
    else
      result="MISSED" tests="" all=""
      missed=$((missed + 1))
    fi
  fi
  restore
  printf '%-22s %-28s %s\n' "$id" "$result" "$tests"
  printf '%s\t%s\t%s\n' "$id" "$result" "$all" >>"$report"
done

echo "rebuilding the unbroken tree"
build || { cat "$saved_dir/build.log"; exit 2; }
echo "$total faults: $caught caught, $missed missed, $errors errors (report: $report)"
((missed == 0 && errors == 0))
