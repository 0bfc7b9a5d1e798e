#!/usr/bin/env bash
# Fails when a file under src/ includes from a floor above its own, or from a
# sibling folder of its floor. The floors, bottom up (docs/design.md, "Layers"):
#   1 platform   2 core   3 discovery carddata regulator   4 ati nv   5 api
# A file may include its own folder and any lower floor; the public header
# (zxdisplay.h) and system headers are open to all.
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"

floor_of() {
  case $1 in
    platform) echo 1 ;;
    core) echo 2 ;;
    discovery | carddata | regulator) echo 3 ;;
    ati | nv) echo 4 ;;
    api) echo 5 ;;
    *) echo 0 ;;
  esac
}

bad=0
checked=0
while IFS= read -r -d '' file; do
  from=${file#src/}
  from=${from%%/*}
  from_floor=$(floor_of "$from")
  if [ "$from_floor" -eq 0 ]; then
    echo "$file: folder src/$from/ has no floor in scripts/check-layers.sh"
    bad=1
    continue
  fi
  while IFS= read -r line; do
    target=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]+)".*/\1/' <<<"${line#*:}")
    case $target in
      zxdisplay.h | */*) ;;
      *) continue ;;  # same-folder include without a path
    esac
    [ "$target" = zxdisplay.h ] && continue
    to=${target%%/*}
    to_floor=$(floor_of "$to")
    checked=$((checked + 1))
    if [ "$to" = "$from" ]; then
      continue
    fi
    if [ "$to_floor" -eq 0 ] || [ "$to_floor" -ge "$from_floor" ]; then
      echo "$file:${line%%:*}: includes \"$target\" (src/$to/, floor $to_floor) from src/$from/ (floor $from_floor)"
      bad=1
    fi
  done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" || true)
done < <(find src -type f \( -name '*.h' -o -name '*.cpp' \) -print0 | sort -z)

if [ "$bad" -ne 0 ]; then
  echo "layers: includes that run up a floor or across to a sibling (see docs/design.md)"
  exit 1
fi
echo "layers: $checked includes checked, none runs up a floor"
