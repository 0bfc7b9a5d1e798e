// Vendor libraries are loaded by bare name from the system's search path:
// the application's folder, the system folder and folders added with
// AddDllDirectory, never the current folder or PATH.
#include <windows.h>

#include "platform/win32/win32_platform.h"

namespace zx::platform::win32 {

namespace {

// LOAD_LIBRARY_SEARCH_* is understood where AddDllDirectory exists (from
// Windows 8, and Windows 7 with KB2533623).
bool hasSearchFlags() {
    const HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
    return kernel != nullptr && ::GetProcAddress(kernel, "AddDllDirectory") != nullptr;
}

}  // namespace

NativeHandle Win32Platform::loadLibrary(const char* name) {
    if (name == nullptr || name[0] == '\0') {
        return 0;
    }
    if (hasSearchFlags()) {
        return reinterpret_cast<NativeHandle>(::LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS));
    }
    // Older systems: SetDllDirectoryA("") takes the current folder out of the
    // search for the whole process, which is what the host wants anyway.
    ::SetDllDirectoryA("");
    return reinterpret_cast<NativeHandle>(::LoadLibraryA(name));
}

void* Win32Platform::findSymbol(NativeHandle library, const char* name) {
    if (library == 0 || name == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<void*>(::GetProcAddress(reinterpret_cast<HMODULE>(library), name));
}

void Win32Platform::freeLibrary(NativeHandle library) {
    if (library != 0) {
        ::FreeLibrary(reinterpret_cast<HMODULE>(library));
    }
}

}  // namespace zx::platform::win32
