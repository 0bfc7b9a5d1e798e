// The card lock between real processes: deployed hosts on one simulated card.
#include <signal.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/fake_sysfs.h"
#include "support/host.h"
#include "support/test_env.h"

namespace {

using zxtest::HostDeployment;
using zxtest::HostResult;

// Each setter with arguments that a working card would accept.
const std::vector<std::vector<std::string>> kSetters = {
    {"ZXSetCurrentVoltageLevel", "0", "1000"},  {"ZXSetPerformanceVoltageLevel", "0", "0", "1000"},
    {"ZXSetVoltageDefault", "0"},               {"ZXSetCurrentMemoryVoltageLevel", "0", "1"},
    {"ZXSetMemoryVoltageDefault", "0"},         {"ZXSetPerformanceLevelGPUClock", "0", "0", "300"},
    {"ZXSetGPUClockDefault", "0"},              {"ZXSetPerformanceLevelMemoryClock", "0", "0", "500"},
    {"ZXSetMemoryClockDefault", "0"},           {"ZXSetPerformanceLevelShaderClock", "0", "0", "600"},
    {"ZXSetShaderClockDefault", "0"},           {"ZXSetCurrentPWMClockLevel", "0", "1"},
    {"ZXSetPWMClockDefault", "0"},              {"ZXSetDACLevel", "0", "1"},
    {"ZXSetFanSpeed", "0", "0", "50", "0"},     {"ZXSetFanSpeedDefault", "0", "0", "0"},
};

std::vector<std::string> allSetters() {
    std::vector<std::string> out;
    for (const auto& s : kSetters) out.insert(out.end(), s.begin(), s.end());
    return out;
}

class LockE2E : public ::testing::Test {
protected:
    void SetUp() override {
        zxtest::addPciDevice(zxtest::nvidiaCard("0000:01:00.0"));
        const std::string scenario = zxtest::testRoot() + "/scenario";
        zxtest::writeFile(scenario,
                          "gpu bus=1 levels=1\n"
                          "clock sel=0 domain=0 freq=300000 min=100000 max=900000\n"
                          "clock sel=0 domain=4 freq=500000 min=100000 max=900000\n"
                          "clock sel=0 domain=7 freq=600000 min=100000 max=900000\n"
                          "thermal temp=50\ncooler type=1 target=1 level=40\n");
        env = {{"ZXSIM_NVAPI_SCENARIO", scenario}, {"ZXSIM_NVAPI_LOG", zxtest::testRoot() + "/nvapi.log"}};
    }
    std::string marker(const std::string& name) const { return zxtest::testRoot() + "/" + name; }
    std::string driverLog() const { return zxtest::readFile(zxtest::testRoot() + "/nvapi.log"); }

    HostDeployment host;
    zxtest::EnvVars env;
};

TEST_F(LockE2E, AHolderShutsOutEveryOtherProcessesSetters) {
    std::vector<std::string> holder = {"ZXInitLib", "ZXSetLockLibStatus", "1", "ZXGetLockLibStatus",
                                       "touch:" + marker("held"), "wait:" + marker("go"), "ZXGetLockLibStatus"};
    holder.insert(holder.end(), {"ZXSetGPUClockDefault", "0", "ZXSetFanSpeed", "0", "0", "55", "0"});
    const pid_t a = host.start(holder, env);

    std::vector<std::string> other = {"wait:" + marker("held")};
    // Before its own start-up a process is refused as well.
    other.insert(other.end(), {"ZXSetGPUClockDefault", "0", "ZXGetLockLibStatus", "ZXSetLockLibStatus", "1"});
    other.insert(other.end(), {"ZXInitLib", "ZXGetLockLibStatus", "ZXSetLockLibStatus", "1"});
    const auto setters = allSetters();
    other.insert(other.end(), setters.begin(), setters.end());
    other.insert(other.end(), {"ZXGetTemperature", "0", "ZXGetFanSpeed", "0", "0", "0", "touch:" + marker("go")});
    const auto b = host.run(other, env);
    const auto ra = host.wait(a);

    // The holder: held here, its setters pass the lock test.
    EXPECT_EQ(ra.allOf("ZXGetLockLibStatus"), (std::vector<std::string>{"0 1", "0 1"}));
    EXPECT_EQ(ra.of("ZXSetGPUClockDefault"), "0");
    EXPECT_EQ(ra.of("ZXSetFanSpeed"), "0");

    // The other process: refused before and after start-up, getters work.
    ASSERT_EQ(b.allOf("ZXSetGPUClockDefault").size(), 2u);
    EXPECT_EQ(b.allOf("ZXSetGPUClockDefault")[0], "4");
    EXPECT_EQ(b.allOf("ZXGetLockLibStatus"),
              (std::vector<std::string>{"3 2863311530", "0 2"}));  // not written before start-up
    EXPECT_EQ(b.allOf("ZXSetLockLibStatus"), (std::vector<std::string>{"3", "1"}));
    for (const auto& s : kSetters) {
        SCOPED_TRACE(s[0]);
        EXPECT_EQ(b.allOf(s[0]).back(), "4");
    }
    EXPECT_EQ(b.of("ZXGetTemperature"), "0 50");
    EXPECT_EQ(b.of("ZXGetFanSpeed"), "0 40");  // each process simulates its own card
    // Only the holder's two setters reached the driver.
    const std::string log = driverLog();
    EXPECT_EQ(log.find("SetCoolerLevels gpu=0 index=0 rows=[55/1,0/0,0/0]"),
              log.rfind("SetCoolerLevels"));
}

TEST_F(LockE2E, TakingAndGivingBackFollowTheFlagsLowByte) {
    const auto r = host.run({"ZXInitLib", "ZXSetLockLibStatus", "1", "ZXSetLockLibStatus", "1",
                             "ZXGetLockLibStatus", "ZXSetLockLibStatus", "0", "ZXSetLockLibStatus", "0",
                             "ZXGetLockLibStatus", "ZXSetLockLibStatus", "0x201", "ZXSetLockLibStatus", "0x100",
                             "ZXGetLockLibStatus"},
                            env);
    // Take (0), take again (1, still held), give back (0), again (1),
    // 0x201 takes, 0x100 gives back.
    EXPECT_EQ(r.allOf("ZXSetLockLibStatus"), (std::vector<std::string>{"0", "1", "0", "1", "0", "0"}));
    EXPECT_EQ(r.allOf("ZXGetLockLibStatus"), (std::vector<std::string>{"0 1", "0 0", "0 0"}));
}

TEST_F(LockE2E, AKilledHolderLeavesTheLockFree) {
    const pid_t a = host.start({"ZXInitLib", "ZXSetLockLibStatus", "1", "touch:" + marker("held"), "hold"}, env);
    const auto before = host.run({"wait:" + marker("held"), "ZXInitLib", "ZXGetLockLibStatus"}, env);
    EXPECT_EQ(before.of("ZXGetLockLibStatus"), "0 2");
    ::kill(a, SIGKILL);
    EXPECT_EQ(host.wait(a).exitCode, -SIGKILL);
    const auto after = host.run({"ZXInitLib", "ZXGetLockLibStatus", "ZXSetLockLibStatus", "1",
                                 "ZXGetLockLibStatus", "ZXSetGPUClockDefault", "0"},
                                env);
    EXPECT_EQ(after.allOf("ZXGetLockLibStatus"), (std::vector<std::string>{"0 0", "0 1"}));
    EXPECT_EQ(after.of("ZXSetLockLibStatus"), "0");
    EXPECT_EQ(after.of("ZXSetGPUClockDefault"), "0");
}

TEST_F(LockE2E, ShuttingDownGivesTheLockBack) {
    const pid_t a = host.start({"ZXInitLib", "ZXSetLockLibStatus", "1", "touch:" + marker("held"),
                                "wait:" + marker("seen"), "ZXDeInitLib", "ZXGetLockLibStatus",
                                "touch:" + marker("released"), "wait:" + marker("done")},
                               env);
    const auto r = host.run({"wait:" + marker("held"), "ZXInitLib", "ZXGetLockLibStatus", "touch:" + marker("seen"),
                             "wait:" + marker("released"), "ZXGetLockLibStatus", "ZXSetVoltageDefault", "0",
                             "touch:" + marker("done")},
                            env);
    const auto ra = host.wait(a);
    EXPECT_EQ(ra.of("ZXDeInitLib"), "0");
    // After shutdown the library is no longer started in that process.
    EXPECT_EQ(ra.of("ZXGetLockLibStatus"), "3 2863311530");
    EXPECT_EQ(r.allOf("ZXGetLockLibStatus"), (std::vector<std::string>{"0 2", "0 0"}));
    EXPECT_EQ(r.of("ZXSetVoltageDefault"), "2");
}

}  // namespace
