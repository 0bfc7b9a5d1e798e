#include "core/decimal.h"

#include <gtest/gtest.h>

namespace {

TEST(ParseDecimal, ReadsLikeAtoiAndSaturatesAtTheThirtyTwoBitLimits) {
    const struct {
        const char* text;
        std::int32_t value;
    } cases[] = {
        {"1300", 1300}, {"  \t\n-25", -25}, {"+7", 7}, {"12abc", 12}, {"12 34", 12}, {"007", 7},
        {"\r\v\f8", 8}, {"\x08" "5", 0}, {"\x0E" "5", 0}, {"/5", 0}, {":5", 0},
        {"", 0}, {"abc", 0}, {"-", 0}, {"- 5", 0}, {"+-5", 0},
        {"2147483647", 2147483647}, {"2147483648", 2147483647}, {"99999999999999999999999", 2147483647},
        {"-2147483648", -2147483647 - 1}, {"-2147483649", -2147483647 - 1}, {"-99999999999999999999999", -2147483647 - 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(zx::parseDecimal(c.text), c.value) << c.text;
    }
}

}  // namespace
