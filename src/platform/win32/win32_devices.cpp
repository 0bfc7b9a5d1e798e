// Device list from SetupAPI: every present device of every setup class, with
// the Class and LocationInformation values of its device key.
#include <windows.h>
#include <setupapi.h>

#include "platform/win32/win32_platform.h"

namespace zx::platform::win32 {

namespace {

constexpr const char* kEnumKey = "SYSTEM\\CurrentControlSet\\Enum\\";
constexpr DWORD kTextSize = 260;
static_assert(sizeof(void*) != 4 || sizeof(SP_DEVINFO_DATA) == 28);

// A REG_SZ value of at most kTextSize bytes; false when missing, of another
// type or longer.
bool readText(HKEY key, const char* name, std::string& out) {
    char buffer[kTextSize + 1] = {};
    DWORD type = 0;
    DWORD size = kTextSize;
    if (::RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ)) {
        return false;
    }
    buffer[size < kTextSize ? size : kTextSize] = '\0';  // the stored text need not end in NUL
    out = buffer;
    return true;
}

// The device's key values; a key that cannot be opened leaves both absent.
void readDeviceKey(DeviceRecord& rec) {
    HKEY key = nullptr;
    const std::string path = kEnumKey + rec.instanceId;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return;
    }
    rec.hasClass = readText(key, "Class", rec.setupClass);
    rec.hasLocation = readText(key, "LocationInformation", rec.location);
    ::RegCloseKey(key);
}

}  // namespace

bool Win32Platform::listDevices(std::vector<DeviceRecord>& out) {
    const HDEVINFO set = ::SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    if (set == INVALID_HANDLE_VALUE) {
        return false;
    }
    out.clear();
    SP_DEVINFO_DATA info {};
    info.cbSize = sizeof info;
    for (DWORD index = 0; ::SetupDiEnumDeviceInfo(set, index, &info); ++index) {
        char id[kTextSize] = {};
        if (!::SetupDiGetDeviceInstanceIdA(set, &info, id, kTextSize, nullptr)) {
            continue;
        }
        DeviceRecord rec;
        rec.instanceId = id;
        readDeviceKey(rec);
        out.push_back(std::move(rec));
    }
    ::SetupDiDestroyDeviceInfoList(set);
    return true;
}

unsigned Win32Platform::osMajorVersion() {
    OSVERSIONINFOA version {};
    version.dwOSVersionInfoSize = sizeof version;
    static_assert(sizeof(OSVERSIONINFOA) == 148);
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
    // Without a manifest that names newer systems this reports 6 from Vista
    // on, which is all that telling the two location formats apart needs.
    const BOOL ok = ::GetVersionExA(&version);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
    return ok ? static_cast<unsigned>(version.dwMajorVersion) : 0;
}

}  // namespace zx::platform::win32
