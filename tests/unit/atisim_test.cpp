// The ATI display library simulator's own promises that the other tests rely
// on: scenario errors name their line, and faults hit exactly the calls they
// describe.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/atisim.h"

namespace {

using zxtest::atisim::Control;

TEST(AtiSimScenario, ABadLineIsNamedAndBreaksTheLibrary) {
    Control sim;
    struct Case {
        const char* text;
        int line;
        const char* message;
    };
    const Case cases[] = {
        {"gpu bus=1\nlevel engine=1 memory=2\n", 2, "level needs voltage="},
        {"level engine=1 memory=2 voltage=3\n", 1, "level line before the first gpu line"},
        {"gpu bus=1\ngpu bus=2 colour=3\n", 2, "unknown key 'colour'"},
        {"gpu bus=300\n", 1, "bus=300 is not a number from 0 to 255"},
        {"fault op=GetAdapterID status=-1 gpu=0\n", 1, "GetAdapterID takes no GPU"},
        {"fault op=GetODParameters status=-1 speed=75\n", 1, "only the I2C entry points have a speed"},
        {"gpu ex=1,x\n", 1, "is not all, none or a list of adapter indices"},
        {"frobnicate\n", 1, "unknown directive 'frobnicate'"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(sim.load(c.text), c.line) << c.text;
        EXPECT_NE(sim.lastError().find(c.message), std::string::npos) << sim.lastError();
        auto getAdapterId = reinterpret_cast<int (*)(int, int*)>(sim.entry("ATIDL_GetAdapterID"));
        int id = 0;
        EXPECT_EQ(getAdapterId(0, &id), -1);
    }
    EXPECT_EQ(sim.apply("gpu bus=1\n"), 1);  // only faults and displays can be added
}

TEST(AtiSimFaults, MatchPathAdapterSpeedAndCount) {
    Control sim;
    ASSERT_EQ(sim.load("gpu bus=1\npin reg=0x10 value=0x24\n"
                       "fault op=WriteAndReadI2C status=-7 adapter=1 speed=120 after=1 times=1\n"),
              0)
        << sim.lastError();
    auto plain = reinterpret_cast<int (*)(int, void*)>(sim.entry("ATIDL_WriteAndReadI2C"));
    // A one-byte read of register 0x10 at address byte 0x3F, laid out as the
    // library's transfer.
    struct {
        std::int32_t size, line, address, offset, action, speed, length;
        std::uint8_t* data;
    } t{};
    std::uint8_t byte = 0;
    auto read = [&](int adapter, int speed) {
        t = {};
        t.size = sizeof t;
        t.line = 1;
        t.address = 0x3F;
        t.offset = 0x10;
        t.action = 1;
        t.speed = speed;
        t.length = 1;
        t.data = &byte;
        return plain(adapter, &t);
    };
    const std::vector<int> results = {read(1, 120), read(1, 75), read(0, 120), read(1, 120), read(1, 120)};
    EXPECT_EQ(results, (std::vector<int>{0, 0, 0, -7, 0}));
    EXPECT_EQ(byte, 0x24);
    EXPECT_EQ(sim.log()[3], "WriteAndReadI2C adapter=1 addr=0x3F reg=0x10 speed=120 -> -7");
}

}  // namespace
