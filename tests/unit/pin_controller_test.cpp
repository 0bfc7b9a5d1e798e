// The request-to-step arithmetic both vendors' regulators use, and where each
// pin number sits (the pin programming itself is shown end to end against the
// simulators).
#include <gtest/gtest.h>

#include "regulator/pin_controller.h"

namespace {

using namespace zx::regulator;

TEST(PinControllerScale, RequestsMapToSteps) {
    struct Case {
        std::uint32_t request, min, max, step;
        std::optional<std::uint32_t> index;
    };
    const Case cases[] = {
        {1050, 900, 1100, 50, 3},         // within the range: steps from the minimum
        {5000, 900, 1100, 50, 4},         // above it: the top step
        {3, 900, 1100, 50, 3},            // below the minimum: a step number
        {0xFFFFFFFFu, 900, 1100, 50, 4},  // a negative value counts as above the maximum
        {1050, 1000, 1200, 0, {}},        // no step: nothing
        {19, 800, 1300, 25, 19},          // the last step number below the top step
        {20, 800, 1300, 25, {}},          // the top step's number: refused
        {799, 800, 1300, 25, {}},         // just below the minimum: refused, not the top step
        {1500, 800, 1500, 25, 28},
        // max below min: the top step wraps, every value at or above max is that step.
        {900, 900, 800, 25, (0xFFFFFFFFu - 99) / 25},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(stepOfRequest(c.request, c.min, c.max, c.step), c.index) << c.request << " on " << c.min;
    }
    EXPECT_EQ(stepOf(900, 1000, 50), (0xFFFFFFFFu - 99) / 50);  // wraps far past any table
}

TEST(PinControllerPins, EachNumberHasItsPortAndBit) {
    const std::pair<std::uint32_t, std::optional<std::pair<unsigned, unsigned>>> cases[] = {
        {9, {}},  {10, {{0, 0x01}}}, {17, {{0, 0x80}}}, {18, {}}, {20, {{1, 0x01}}}, {27, {{1, 0x80}}},
        {29, {}}, {30, {{2, 0x01}}}, {33, {{2, 0x08}}}, {34, {}}};
    for (const auto& [pin, place] : cases) {
        const auto p = placeOf(pin);
        ASSERT_EQ(p.has_value(), place.has_value()) << pin;
        if (p) {
            EXPECT_EQ(std::make_pair(p->port, unsigned{p->mask}), *place) << pin;
        }
    }
}

}  // namespace
