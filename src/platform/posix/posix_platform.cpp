// The Linux Platform instance; its services live one group per source file.
#include "platform/posix/posix_platform.h"

namespace zx::platform {

Platform& native() {
    static posix::PosixPlatform instance;
    return instance;
}

}  // namespace zx::platform
