#!/usr/bin/env bash
# Builds the library and runs it on a simulated NVIDIA card: a fake sysfs tree
# with one card, the NVAPI simulator first on the library search path, a card
# data file beside the host program, and throw-away user folders.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc 2>/dev/null || echo 2)" --target zxhost zxsim_nvapi zxcarddata

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dev="$work/sys/devices/pci0000:00/0000:01:00.0"
mkdir -p "$dev" "$work/sys/bus/pci/devices" "$work/home" "$work/run" "$work/app"
chmod 700 "$work/run"
printf '0x10de\n' >"$dev/vendor"; printf '0x0611\n' >"$dev/device"
printf '0x7a3c\n' >"$dev/subsystem_vendor"; printf '0xa102\n' >"$dev/subsystem_device"
printf '0xa2\n' >"$dev/revision"; printf '0x030000\n' >"$dev/class"
ln -s "$dev" "$work/sys/bus/pci/devices/0000:01:00.0"

cat >"$work/scenario" <<'SCENARIO'
gpu bus=1 levels=3 current=2
clock sel=0 domain=0 freq=300000 default=300000 min=100000 max=1200000
clock sel=0 domain=4 freq=500000 default=500000 min=200000 max=1500000
clock sel=0 domain=7 freq=600000 default=600000 min=200000 max=2000000
clock sel=1 domain=0 freq=550000 default=550000 min=100000 max=1200000
clock sel=1 domain=4 freq=900000 default=900000 min=200000 max=1500000
clock sel=1 domain=7 freq=1100000 default=1100000 min=200000 max=2000000
clock sel=2 domain=0 freq=700000 default=700000 min=100000 max=1200000
clock sel=2 domain=4 freq=1100000 default=1100000 min=200000 max=1500000
clock sel=2 domain=7 freq=1500000 default=1500000 min=200000 max=2000000
thermal temp=54
cooler type=1 target=1 min=30 max=100 level=40 default=40
SCENARIO

cp build/tests/zxhost "$work/app/"
build/tools/zxcarddata encode "$work/app/NVVGA.DAT" <<'PROFILE'
[10DE_0611_A102_7A3C]
GPUVoltageMax=1300
GPUVoltageMin=800
GPUVoltageStep=25
VGAInfoString0=Simulated NVIDIA card
VGAInfoString1=Demo profile
PROFILE

env HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_RUNTIME_DIR="$work/run" \
    ZXDISPLAY_SYSFS_ROOT="$work/sys" ZXSIM_NVAPI_SCENARIO="$work/scenario" \
    LD_LIBRARY_PATH="$PWD/build/simlib" \
  "$work/app/zxhost" ZXInitLib ZXGetAdapterInfo ZXGetGpuCount 0 ZXGetControlMode \
    ZXGetVGAInfoDescription 0 ZXGetCurrentPerformanceLevel 0 \
    ZXGetPerformanceLevelGPUClocks 0 ZXGetPerformanceLevelMemoryClocks 0 ZXGetGPUClockInfo 0 \
    ZXSetPerformanceLevelGPUClock 0 2 750 ZXGetPerformanceLevelGPUClocks 0 ZXSetGPUClockDefault 0 \
    ZXGetTemperature 0 ZXGetFanSpeedInfo 0 0 0 ZXSetFanSpeed 0 0 65 0 ZXGetFanSpeed 0 0 0 \
    ZXSetFanSpeedDefault 0 0 0 ZXSetLockLibStatus 1 ZXGetLockLibStatus ZXDeInitLib
