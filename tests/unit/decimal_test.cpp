#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "api/decimal.h"

namespace {

using zx::parseDecimal;

TEST(ParseDecimal, ReadsLikeTheCLibrarysIntegerParser) {
    EXPECT_EQ(parseDecimal("1300"), 1300);
    EXPECT_EQ(parseDecimal("  \t\n-25"), -25);
    EXPECT_EQ(parseDecimal("+7"), 7);
    EXPECT_EQ(parseDecimal("12abc"), 12);
    EXPECT_EQ(parseDecimal("12 34"), 12);
    EXPECT_EQ(parseDecimal("007"), 7);
}

TEST(ParseDecimal, NoDigitsGiveZero) {
    EXPECT_EQ(parseDecimal(""), 0);
    EXPECT_EQ(parseDecimal("abc"), 0);
    EXPECT_EQ(parseDecimal("-"), 0);
    EXPECT_EQ(parseDecimal("- 5"), 0);
    EXPECT_EQ(parseDecimal("+-5"), 0);
}

TEST(ParseDecimal, SaturatesAtTheThirtyTwoBitLimits) {
    constexpr auto kMax = std::numeric_limits<std::int32_t>::max();
    constexpr auto kMin = std::numeric_limits<std::int32_t>::min();
    EXPECT_EQ(parseDecimal("2147483647"), kMax);
    EXPECT_EQ(parseDecimal("2147483648"), kMax);
    EXPECT_EQ(parseDecimal("99999999999999999999999"), kMax);
    EXPECT_EQ(parseDecimal("-2147483648"), kMin);
    EXPECT_EQ(parseDecimal("-2147483649"), kMin);
    EXPECT_EQ(parseDecimal("-99999999999999999999999"), kMin);
}

}  // namespace
