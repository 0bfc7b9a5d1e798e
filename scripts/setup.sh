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
  g++-mingw-w64-i686 g++-mingw-w64-x86-64
)
# For the Windows tests only: without them scripts/test-windows.sh still
# builds the DLLs and reports its tests as skipped.
optional=(wine64 wine)

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done
missing_optional=()
for p in "${optional[@]}"; do
  installed "$p" || missing_optional+=("$p")
done
[ ${#missing[@]} -eq 0 ] && [ ${#missing_optional[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]} ${missing_optional[*]}"
if [ "$(id -u)" -eq 0 ]; then
  sudo=()
elif command -v sudo >/dev/null 2>&1; then
  sudo=(sudo)
else
  echo "Need root or sudo to install: ${missing[*]} ${missing_optional[*]}" >&2
  [ ${#missing[@]} -eq 0 ] && exit 0
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -q
if [ ${#missing[@]} -gt 0 ]; then
  "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
if [ ${#missing_optional[@]} -gt 0 ]; then
  "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing_optional[@]}" ||
    echo "WARNING: could not install ${missing_optional[*]}; the Windows tests will be skipped" >&2
fi
