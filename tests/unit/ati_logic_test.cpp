// The ATI backend's GPU voltage scale (the pins are shown end to end).
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
        {5000, 900, 1100, 50, 4},   // above it: the top index
        {3, 900, 1100, 50, 3},      // below the minimum: an index
        {0xFFFFFFFFu, 900, 1100, 50, 4},  // a negative value counts as above the maximum
        {1050, 1000, 1200, 0, 0},   // no step: index 0
    };
    for (const Case& c : cases) {
        EXPECT_EQ(levelIndexOfRequest(c.request, c.min, c.max, c.step), c.index) << c.request << " on " << c.min;
    }
}

}  // namespace
