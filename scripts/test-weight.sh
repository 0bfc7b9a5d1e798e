#!/usr/bin/env bash
# Prints the lines of tests and of code (files tracked by git) and their ratio.
# Code is the library, its public header, the simulators and the tools.
set -euo pipefail
cd "$(dirname "$0")/.."

lines() { git ls-files -z -- "$@" | xargs -0 -r cat | wc -l; }

tests=$(lines tests)
code=$(lines src include sim tools)
echo "tests: $tests lines"
for part in unit e2e support host tools win32 browser header install; do
  printf '  %-8s %6d\n' "$part" "$(lines "tests/$part")"
done
echo "code:  $code lines (src, include, sim, tools)"
awk -v t="$tests" -v c="$code" 'BEGIN { printf "ratio: %.2f (tests / code)\n", c ? t / c : 0 }'
