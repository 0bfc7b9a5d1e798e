// Display devices of the desktop (EnumDisplayDevicesA) and their device
// contexts (CreateDCA, DeleteDC).
#include <windows.h>

#include <cstddef>

#include "platform/win32/win32_platform.h"

namespace zx::platform::win32 {

namespace {

// The record is used up to StateFlags only; systems that know the longer
// record fill the rest only when asked for it.
constexpr DWORD kRecordSize = offsetof(DISPLAY_DEVICEA, DeviceID);
static_assert(kRecordSize == 168);

}  // namespace

bool Win32Platform::displayDevice(std::uint32_t index, DisplayDevice& out) {
    DISPLAY_DEVICEA device {};
    device.cb = kRecordSize;
    if (!::EnumDisplayDevicesA(nullptr, index, &device, 0)) {
        return false;
    }
    device.DeviceName[sizeof device.DeviceName - 1] = '\0';
    out.name = device.DeviceName;
    out.attachedToDesktop = (device.StateFlags & DISPLAY_DEVICE_ATTACHED_TO_DESKTOP) != 0;
    return true;
}

NativeHandle Win32Platform::createDeviceContext(const std::string& deviceName) {
    if (deviceName.empty()) {
        return 0;
    }
    return reinterpret_cast<NativeHandle>(::CreateDCA(nullptr, deviceName.c_str(), nullptr, nullptr));
}

void Win32Platform::deleteDeviceContext(NativeHandle context) {
    if (context != 0) {
        ::DeleteDC(reinterpret_cast<HDC>(context));
    }
}

}  // namespace zx::platform::win32
