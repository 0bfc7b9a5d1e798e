#include "platform/platform.h"

namespace zx::platform {

namespace {
Platform* installed = nullptr;
}

Platform& current() { return installed != nullptr ? *installed : native(); }

void setPlatform(Platform* replacement) { installed = replacement; }

std::string normaliseKeyPath(const std::string& keyPath) {
    std::string out;
    out.reserve(keyPath.size());
    for (char c : keyPath) {
        if (c == '\\' && (out.empty() || out.back() == '\\')) {
            continue;
        }
        out += c;
    }
    if (!out.empty() && out.back() == '\\') {
        out.pop_back();
    }
    return out;
}

}  // namespace zx::platform
