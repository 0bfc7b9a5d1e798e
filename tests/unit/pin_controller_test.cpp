// The shared pin-controller model: what its registers and pins do.
#include <gtest/gtest.h>

#include <vector>

#include "common/pin_controller.h"

namespace {

using zxsim::PinController;

TEST(PinController, KindOnePinsFollowTheOutputRegister) {
    PinController c(PinController::Kind::One);
    std::uint8_t v = 0;
    ASSERT_TRUE(c.read(0x20, v));
    EXPECT_EQ(v, 0x95);
    ASSERT_TRUE(c.write(0x11, 0x44));        // port 1: pins 22 and 26
    ASSERT_TRUE(c.write(0x10, 0xFF));        // levels are read only
    ASSERT_TRUE(c.read(0x10, v));
    EXPECT_EQ(v, 0x44);
    EXPECT_EQ(c.pinLevel(22), 1u);
    EXPECT_EQ(c.pinLevel(21), 0u);
    EXPECT_FALSE(c.pinLevel(18));
    const unsigned pins[] = {21, 22};
    EXPECT_EQ(c.pinsValue(pins, 2), 2u);
    EXPECT_FALSE(c.read(0x30, v));           // no such register
}

TEST(PinController, KindTwoDrivesInvertedLatchOnEnabledPins) {
    PinController c(PinController::Kind::Two);
    EXPECT_EQ(c.portLevels(0), 0xFF);        // nothing driven: pulled up
    ASSERT_TRUE(c.write(0x10, 0xFE));        // latch bit 0 clear: pin 10 driven to 1
    ASSERT_TRUE(c.write(0x15, 0x03));        // pins 10 and 11 driven
    EXPECT_EQ(c.pinLevel(10), 1u);
    EXPECT_EQ(c.pinLevel(11), 0u);
    EXPECT_TRUE(c.pinDriven(11));
    EXPECT_FALSE(c.pinDriven(12));
    EXPECT_EQ(c.pinLevel(12), 1u);
    std::uint8_t v = 0;
    EXPECT_FALSE(c.read(0x00, v));           // kind 2 has no block at 0x00
}

TEST(PinController, FaultHookAndAccessLog) {
    PinController c(PinController::Kind::One);
    std::vector<PinController::Access> seen;
    c.setAccessLog([&](const PinController::Access& a) { seen.push_back(a); });
    c.setFaultHook([](const PinController::Access& a) { return a.write && a.reg == 0x01; });
    std::uint8_t v = 0x55;
    EXPECT_FALSE(c.write(0x01, 0x0F));
    EXPECT_EQ(c.pinLevel(10), 0u);           // a failed write changes nothing
    EXPECT_TRUE(c.read(0x00, v));
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_FALSE(seen[0].ok);
    EXPECT_EQ(seen[0].address, 0x3E);
    EXPECT_TRUE(seen[1].ok);
    EXPECT_EQ(seen[1].value, 0x00);
}

}  // namespace
