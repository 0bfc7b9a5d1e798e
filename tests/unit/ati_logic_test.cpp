// The ATI backend's arithmetic: the GPU voltage scale and the pin numbering
// of the regulator's pin controller.
#include <gtest/gtest.h>

#include "ati/ati_logic.h"

namespace {

using namespace zx::ati;

TEST(AtiVoltageScale, RequestsMapToLevelIndices) {
    struct Case {
        std::uint32_t request, min, max, step, index;
    };
    const Case cases[] = {
        {1050, 900, 1100, 50, 3},   // within the range: steps from the minimum
        {1100, 900, 1100, 50, 4},   // the maximum: the top index
        {5000, 900, 1100, 50, 4},   // above it: the top index
        {3, 900, 1100, 50, 3},      // below the minimum: an index
        {7, 900, 1100, 50, 4},      // an index beyond the top: the top
        {0xFFFFFFFFu, 900, 1100, 50, 4},  // a negative value counts as above the maximum
        {1050, 1000, 1200, 50, 1},  // the card's own scale
        {1050, 1000, 1200, 0, 0},   // no step: index 0
    };
    for (const Case& c : cases) {
        EXPECT_EQ(levelIndexOfRequest(c.request, c.min, c.max, c.step), c.index) << c.request << " on " << c.min;
    }
}

TEST(AtiPinNumbers, NameAPortBlockAndABit) {
    struct Case {
        std::uint32_t pin;
        bool valid;
        std::uint8_t block, mask;
    };
    const Case cases[] = {{10, true, 0x00, 0x01}, {17, true, 0x00, 0x80}, {20, true, 0x10, 0x01},
                          {24, true, 0x10, 0x10}, {25, true, 0x10, 0x20}, {33, true, 0x20, 0x08},
                          {18, false, 0, 0},      {34, false, 0, 0},      {9, false, 0, 0}};
    for (const Case& c : cases) {
        const auto a = pinAddress(c.pin);
        ASSERT_EQ(a.has_value(), c.valid) << c.pin;
        if (a) {
            EXPECT_EQ(a->block, c.block) << c.pin;
            EXPECT_EQ(a->mask, c.mask) << c.pin;
        }
    }
    EXPECT_EQ(withPin(0x31, 0x10, false), 0x21);
    EXPECT_EQ(withPin(0x00, 0x20, true), 0x20);
}

}  // namespace
