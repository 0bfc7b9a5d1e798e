#include "core/decimal.h"

#include <limits>

namespace zx {

std::int32_t parseDecimal(const char* text) {
    const char* p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) {
        ++p;
    }
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    // Accumulate as a negative number so INT32_MIN is reachable.
    constexpr std::int64_t kMin = std::numeric_limits<std::int32_t>::min();
    constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
    std::int64_t value = 0;
    while (*p >= '0' && *p <= '9') {
        value = value * 10 - (*p - '0');
        if (value < kMin) {
            return negative ? static_cast<std::int32_t>(kMin) : static_cast<std::int32_t>(kMax);
        }
        ++p;
    }
    if (!negative) {
        value = -value;
        if (value > kMax) {
            return static_cast<std::int32_t>(kMax);
        }
    }
    return static_cast<std::int32_t>(value);
}

}  // namespace zx
