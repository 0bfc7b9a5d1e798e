#include "platform/platform.h"

namespace zx::platform {

namespace {
Platform* installed = nullptr;
}

Platform& current() { return installed != nullptr ? *installed : native(); }

void setPlatform(Platform* replacement) { installed = replacement; }

}  // namespace zx::platform
