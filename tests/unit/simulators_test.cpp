// A bad scenario line is named and leaves a simulated driver that fails every
// start, so a mistyped scenario can never pass for a working card.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "nv/nvapi_types.h"
#include "support/atisim.h"
#include "support/nvsim.h"

namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;

struct BadLine {
    const char* text;
    int line;
    const char* message;
};

TEST(SimulatorScenarios, ABadNvapiLineIsNamedAndBreaksTheDriverUntilAGoodOne) {
    namespace nv = zx::nv;
    zxtest::nvsim::Simulator sim;
    const auto initialize = [&] { return sim.op<nv::NvInitializeFn>(nv::NvapiId::Initialize)(); };
    const BadLine cases[] = {
        {"gpu bus=1\nclock sel=0 domain=0", 2, "needs freq="},
        {"gpu bus=1 colour=red", 1, "unknown key 'colour'"},
        {"gpu\ni2c addr=0x100 reg=0 value=0", 2, "addr=0x100"},
        {"fault op=GetTemperature status=-1", 1, "unknown op 'GetTemperature'"},
    };
    for (const BadLine& c : cases) {
        SCOPED_TRACE(c.text);
        ASSERT_EQ(sim.load("gpu bus=1\n"), 0);
        ASSERT_EQ(initialize(), 0);
        EXPECT_EQ(sim.load(c.text), c.line);
        EXPECT_THAT(sim.lastError(), AllOf(HasSubstr("line " + std::to_string(c.line)), HasSubstr(c.message)));
        EXPECT_FALSE(sim.initialised());
        EXPECT_EQ(initialize(), ZXSIM_NVAPI_ERROR);
    }
    ASSERT_EQ(sim.load("gpu bus=1\n"), 0);
    EXPECT_EQ(sim.lastError(), "");
    EXPECT_EQ(initialize(), 0);
}

TEST(SimulatorScenarios, ABadAtiLineIsNamedAndBreaksTheLibrary) {
    zxtest::atisim::Control sim;
    const auto adapterId = reinterpret_cast<int (*)(int, int*)>(sim.entry("ATIDL_GetAdapterID"));
    const BadLine cases[] = {
        {"gpu bus=1\nlevel engine=1 memory=2\n", 2, "level needs voltage="},
        {"fault op=GetODParameters status=-1 speed=75\n", 1, "only the I2C entry points have a speed"},
        {"fault op=WriteAndReadI2CEx status=-1 action=2\n", 1, "action=2 is not read or write"},
        {"frobnicate\n", 1, "unknown directive 'frobnicate'"},
    };
    for (const BadLine& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(sim.load(c.text), c.line);
        EXPECT_THAT(sim.lastError(), HasSubstr(c.message));
        int id = 0;
        EXPECT_EQ(adapterId(0, &id), -1);
    }
    EXPECT_EQ(sim.apply("gpu bus=1\n"), 1);  // only faults and displays can be added
}

}  // namespace
