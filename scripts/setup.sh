#!/usr/bin/env bash
# Installs the Debian packages that building and testing ZXDisplayLib need,
# when any is missing. Works as root or through sudo.
#   scripts/setup.sh build   only what building the library and the tools needs
#                            (scripts/demo.sh)
#   scripts/setup.sh         that and the test toolchain (scripts/test.sh)
set -euo pipefail

# The library, zxctl (with its dashboard) and zxcarddata, and their manual pages.
packages=(
  build-essential cmake ninja-build pkg-config
  nettle-dev libsqlite3-dev
  libcli11-dev nlohmann-json3-dev scdoc
  libboost-dev libjs-chart.js
  libtomlplusplus-dev libsystemd-dev
)
optional=()
if [ "${1:-all}" != build ]; then
  # The tests, the benchmarks, the Windows cross-builds and the fuzz targets.
  packages+=(
    libgtest-dev libgmock-dev googletest libbenchmark-dev libcpp-httplib-dev
    binutils man-db
    g++-mingw-w64-i686 g++-mingw-w64-x86-64
    clang libclang-rt-14-dev
  )
  # Without these the tests that need them report themselves skipped, loudly,
  # and the rest still runs: the dashboard's browser tests, the Windows
  # tests under Wine, and the metrics' tests with Prometheus and promtool
  # (they start their own server; the package's service is not needed), and
  # systemd-analyze on the shipped unit of zxctl daemon.
  optional=(chromium chromium-driver python3-selenium wine64 wine prometheus systemd)
fi

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
# One at a time, so that one that cannot be had does not keep the others out.
for p in "${missing_optional[@]}"; do
  "${sudo[@]}" apt-get install -y -q --no-install-recommends "$p" ||
    echo "WARNING: could not install $p: the tests that need it will be skipped" >&2
done
