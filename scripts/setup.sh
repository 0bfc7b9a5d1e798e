#!/usr/bin/env bash
# Installs the Debian packages that building and testing ZXDisplayLib need,
# when any is missing. Works as root or through sudo.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  nettle-dev libsqlite3-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  binutils
  libcli11-dev nlohmann-json3-dev help2man
  libcpp-httplib-dev libjs-chart.js
)
# The dashboard's browser tests; without them those tests report themselves
# skipped and the rest still runs.
browser_packages=(chromium chromium-driver python3-selenium)

missing=()
for p in "${packages[@]}" "${browser_packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0
required=()
for p in "${missing[@]}"; do
  [[ " ${browser_packages[*]} " == *" $p "* ]] || required+=("$p")
done

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
  sudo=()
elif command -v sudo >/dev/null 2>&1; then
  sudo=(sudo)
elif [ ${#required[@]} -eq 0 ]; then
  echo "WARNING: no root or sudo to install ${missing[*]}: the browser tests will be skipped" >&2
  exit 0
else
  echo "Need root or sudo to install: ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -q
[ ${#required[@]} -eq 0 ] || "${sudo[@]}" apt-get install -y -q --no-install-recommends "${required[@]}"
"${sudo[@]}" apt-get install -y -q --no-install-recommends "${browser_packages[@]}" ||
  echo "WARNING: could not install ${browser_packages[*]}: the browser tests will be skipped" >&2
