// One card's section of the decoded card data file, read the way both
// backends read it: values as the system's private-profile reader hands them
// out (at most 259 bytes), numbers as decimal text, descriptions as the rows
// "VGAInfoString0" onwards.
#pragma once

#include <cstdint>

#include "core/ini_reader.h"
#include "core/types.h"

namespace zx {

class ProfileSection {
public:
    ProfileSection(const ini::Profile& profile, const char* section) : profile_(profile), section_(section) {}

    // The value's text, or nullptr when the key is absent or empty; valid
    // until the next lookup.
    const char* text(const char* key);
    // The value as decimal text (see parseDecimal); 0 when absent.
    std::uint32_t number(const char* key);
    // Rows "VGAInfoString0" to "VGAInfoString9" into out, each cut to fit its
    // 40-byte row, ending at the first missing or empty one; the count.
    std::uint32_t descriptions(char (&out)[kMaxDescriptions][kDescriptionSize]);

private:
    static constexpr std::uint32_t kValueSize = 260;
    const ini::Profile& profile_;
    const char* section_;
    char buffer_[kValueSize] = {};
};

}  // namespace zx
