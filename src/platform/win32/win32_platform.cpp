// The Windows Platform instance; its services live one group per source file.
#include "platform/win32/win32_platform.h"

namespace zx::platform {

Platform& native() {
    static win32::Win32Platform instance;
    return instance;
}

}  // namespace zx::platform
