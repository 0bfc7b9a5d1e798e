// Vendor libraries are loaded by bare name, so that LD_LIBRARY_PATH, the
// caller's RUNPATH and the system's library cache decide where they come from.
#include <dlfcn.h>

#include "platform/posix/posix_platform.h"

namespace zx::platform::posix {

NativeHandle PosixPlatform::loadLibrary(const char* name) {
    if (name == nullptr || name[0] == '\0') {
        return 0;  // dlopen(nullptr) would hand back the main program
    }
    // RTLD_LOCAL keeps the vendor library's symbols out of the global scope.
    return reinterpret_cast<NativeHandle>(::dlopen(name, RTLD_NOW | RTLD_LOCAL));
}

void* PosixPlatform::findSymbol(NativeHandle library, const char* name) {
    if (library == 0 || name == nullptr) {
        return nullptr;
    }
    return ::dlsym(reinterpret_cast<void*>(library), name);
}

void PosixPlatform::freeLibrary(NativeHandle library) {
    if (library != 0) {
        ::dlclose(reinterpret_cast<void*>(library));
    }
}

}  // namespace zx::platform::posix
