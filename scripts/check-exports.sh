#!/usr/bin/env bash
# Checks that a Windows build of the library exports exactly the functions
# of include/zxdisplay.h, under their plain names (no stdcall decoration).
# Usage: scripts/check-exports.sh path/to/ZXDisplayLib.dll [objdump]
set -euo pipefail
cd "$(dirname "$0")/.."
dll=$1
objdump=${2:-i686-w64-mingw32-objdump}

expected=$(grep -o 'ZX_CALL ZX[A-Za-z0-9_]*(' include/zxdisplay.h | sed 's/ZX_CALL //; s/($//' | sort)
# The name pointer table of the export directory: "[   n] Name" lines.
actual=$("$objdump" -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
  sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*//p' | sort)

count=$(printf '%s\n' "$expected" | grep -c .)
if [ "$count" -ne 53 ]; then
  echo "check-exports: the header declares $count functions, not 53" >&2
  exit 1
fi
if [ "$expected" != "$actual" ]; then
  echo "check-exports: $dll does not export exactly the header's functions:" >&2
  diff <(printf '%s\n' "$expected") <(printf '%s\n' "$actual") >&2 || true
  exit 1
fi
echo "check-exports: $dll exports exactly the $count functions, undecorated"
