#include "core/profile_section.h"

#include <cstdio>
#include <cstring>

#include "core/decimal.h"

namespace zx {

const char* ProfileSection::text(const char* key) {
    return profile_.readString(section_, key, buffer_, sizeof buffer_) == 0 ? nullptr : buffer_;
}

std::uint32_t ProfileSection::number(const char* key) {
    const char* t = text(key);
    return t == nullptr ? 0 : static_cast<std::uint32_t>(parseDecimal(t));
}

std::uint32_t ProfileSection::descriptions(char (&out)[kMaxDescriptions][kDescriptionSize]) {
    std::memset(out, 0, sizeof out);
    std::uint32_t count = 0;
    for (; count < kMaxDescriptions; ++count) {
        char key[32];
        std::snprintf(key, sizeof key, "VGAInfoString%u", count);
        const char* t = text(key);
        if (t == nullptr) {
            break;
        }
        std::memcpy(out[count], t, strnlen(t, kDescriptionSize - 1));
    }
    return count;
}

}  // namespace zx
