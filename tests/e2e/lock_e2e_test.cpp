// The card lock between real processes: deployed hosts on one simulated card.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
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

// Every getter, with its numeric inputs.
const std::vector<std::vector<std::string>> kGetters = {
    {"ZXGetAdapterInfo"}, {"ZXGetControlMode"}, {"ZXGetGpuCount"}, {"ZXGetCurrentPerformanceLevel", "0"},
    {"ZXGetVGAInfoDescription", "0"}, {"ZXGetCurrentVoltage", "0"}, {"ZXGetPerformanceLevelVoltages", "0"},
    {"ZXGetPerformanceDefaultVoltages", "0"}, {"ZXGetVoltageInfo", "0"}, {"ZXGet2DDefaultVoltage", "0"},
    {"ZXGetCurrentMemoryVoltageLevel", "0"}, {"ZXGetMemoryVoltageInfo", "0"}, {"ZXGetMemoryVoltageDefault", "0"},
    {"ZXGetPerformanceLevelGPUClocks", "0"}, {"ZXGetGPUClockInfo", "0"}, {"ZXGetGPUClockInfoEx", "0", "0"},
    {"ZXGetPerformanceDefaultGPUClocks", "0"}, {"ZXGetPerformanceLevelMemoryClocks", "0"},
    {"ZXGetMemoryClockInfo", "0"}, {"ZXGetMemoryClockInfoEx", "0", "0"},
    {"ZXGetPerformanceDefaultMemoryClocks", "0"}, {"ZXGetPerformanceLevelShaderClocks", "0"},
    {"ZXGetShaderClockInfo", "0"}, {"ZXGetShaderClockInfoEx", "0", "0"},
    {"ZXGetPerformanceDefaultShaderClocks", "0"}, {"ZXGetCurrentPWMClockLevel", "0"}, {"ZXGetPWMClockInfo", "0"},
    {"ZXGetPWMClockDefault", "0"}, {"ZXGetTemperature", "0"}, {"ZXGetUsage", "0"}, {"ZXGetDACLevel", "0"},
    {"ZXGetFanSpeedInfo", "0", "0", "0"}, {"ZXGetFanSpeed", "0", "0", "0"}, {"ZXGetLockLibStatus"},
};

std::vector<std::string> flat(const std::vector<std::vector<std::string>>& calls) {
    std::vector<std::string> out;
    for (const auto& s : calls) out.insert(out.end(), s.begin(), s.end());
    return out;
}

std::vector<std::string> allSetters() { return flat(kSetters); }

void append(std::vector<std::string>& to, const std::vector<std::string>& more) {
    to.insert(to.end(), more.begin(), more.end());
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

// The lock is the machine's, not the user's: the holder runs with other user
// folders and another runtime folder.
TEST_F(LockE2E, AKilledHolderOfAnotherEnvironmentLeavesTheLockFree) {
    const std::string otherHome = zxtest::testRoot() + "/other";
    zxtest::makeDirs(otherHome + "/.config");
    zxtest::makeDirs(otherHome + "/run");
    zxtest::EnvVars otherEnv = env;
    otherEnv.insert(otherEnv.end(), {{"HOME", otherHome},
                                     {"XDG_CONFIG_HOME", otherHome + "/.config"},
                                     {"XDG_RUNTIME_DIR", otherHome + "/run"}});
    const pid_t a =
        host.start({"ZXInitLib", "ZXSetLockLibStatus", "1", "touch:" + marker("held"), "hold"}, otherEnv);
    std::vector<std::string> commands = {"wait:" + marker("held"), "ZXInitLib", "ZXGetLockLibStatus"};
    append(commands, allSetters());
    const auto before = host.run(commands, env);
    EXPECT_EQ(before.of("ZXGetLockLibStatus"), "0 2");
    for (const auto& setter : kSetters) {
        EXPECT_EQ(before.of(setter[0]), "4") << setter[0];
    }
    ::kill(a, SIGKILL);
    EXPECT_EQ(host.wait(a).exitCode, -SIGKILL);
    const auto after = host.run({"ZXInitLib", "ZXGetLockLibStatus", "ZXSetLockLibStatus", "1",
                                 "ZXGetLockLibStatus", "ZXSetGPUClockDefault", "0"},
                                env);
    EXPECT_EQ(after.allOf("ZXGetLockLibStatus"), (std::vector<std::string>{"0 0", "0 1"}));
    EXPECT_EQ(after.of("ZXSetLockLibStatus"), "0");
    EXPECT_EQ(after.of("ZXSetGPUClockDefault"), "0");
}

// Probing never takes the lock, so busy setters of two processes never see
// each other as holders.
TEST_F(LockE2E, BusySettersOfTwoProcessesAreNeverRefusedWhileNobodyHoldsIt) {
    const std::vector<std::string> commands = {"ZXInitLib", "wait:" + marker("go"), "repeat:2000",
                                               "ZXSetDACLevel", "0", "1"};
    const pid_t a = host.start(commands, env);
    const pid_t b = host.start(commands, env);
    zxtest::writeFile(marker("go"), "");
    for (const auto& r : {host.wait(a), host.wait(b)}) {
        const std::string line = r.of("repeat");
        EXPECT_NE(line.find(" s2="), std::string::npos) << line;
        EXPECT_NE(line.find(" s4=0 "), std::string::npos) << line;
    }
}

TEST_F(LockE2E, OfTwoProcessesTakingAtOnceExactlyOneGetsIt) {
    constexpr int kRounds = 50;
    auto commands = [&](const std::string& me, const std::string& other) {
        std::vector<std::string> c = {"ZXInitLib"};
        for (int i = 0; i < kRounds; ++i) {
            const std::string n = std::to_string(i);
            // Both are ready (the last give-back done), both take, both have
            // taken, both give back.
            append(c, {"touch:" + marker(me + "ready" + n), "wait:" + marker(other + "ready" + n),
                       "ZXSetLockLibStatus", "1", "touch:" + marker(me + "took" + n),
                       "wait:" + marker(other + "took" + n), "ZXSetLockLibStatus", "0"});
        }
        return c;
    };
    const pid_t a = host.start(commands("a", "b"), env);
    const auto rb = host.run(commands("b", "a"), env);
    const auto ra = host.wait(a);
    const auto takesA = ra.allOf("ZXSetLockLibStatus");
    const auto takesB = rb.allOf("ZXSetLockLibStatus");
    ASSERT_EQ(takesA.size(), 2u * kRounds);
    ASSERT_EQ(takesB.size(), 2u * kRounds);
    for (int i = 0; i < kRounds; ++i) {
        SCOPED_TRACE("round " + std::to_string(i));
        EXPECT_EQ((takesA[2 * i] == "0") + (takesB[2 * i] == "0"), 1);
        // Only the taker has something to give back.
        EXPECT_EQ(takesA[2 * i + 1], takesA[2 * i] == "0" ? "0" : "1");
    }
}

// A later start-up that fails leaves no vendor chosen; the hold must still be
// reported and given back, by the give-back request or by shutdown.
TEST_F(LockE2E, AHoldOutlivesAFailedStartUpAndCanBeGivenBack) {
    zxtest::writeFile(env[0].second, zxtest::readFile(env[0].second) + "fault op=EnumPhysicalGPUs status=-1 after=1\n");
    for (const std::string giveBack : {"ZXSetLockLibStatus", "ZXDeInitLib"}) {
        SCOPED_TRACE(giveBack);
        std::vector<std::string> holder = {"ZXInitLib", "ZXSetLockLibStatus", "1", "ZXInitLib", "ZXGetLockLibStatus",
                                           giveBack};
        if (giveBack == "ZXSetLockLibStatus") holder.push_back("0");
        holder.push_back("ZXGetLockLibStatus");
        append(holder, {"touch:" + marker(giveBack + "released"), "wait:" + marker(giveBack + "seen")});
        const pid_t a = host.start(holder, env);
        const auto other = host.run({"wait:" + marker(giveBack + "released"), "ZXInitLib", "ZXGetLockLibStatus",
                                     "touch:" + marker(giveBack + "seen")},
                                    env);
        const auto ra = host.wait(a);
        EXPECT_EQ(ra.allOf("ZXInitLib"), (std::vector<std::string>{"0", "1"}));
        // Given back, and no vendor chosen: the library is not started.
        EXPECT_EQ(ra.allOf("ZXGetLockLibStatus"), (std::vector<std::string>{"0 1", "3 2863311530"}));
        EXPECT_EQ(ra.allOf(giveBack).back(), "0");
        EXPECT_EQ(other.of("ZXGetLockLibStatus"), "0 0");
    }
}

// A child made by fork() shares its parent's open files: it must not hold
// the parent's lock, nor keep it alive once the parent is gone.
TEST_F(LockE2E, AForkedChildNeitherHoldsNorKeepsItsParentsLock) {
    const pid_t a = host.start({"ZXInitLib", "ZXSetLockLibStatus", "1", "fork",
                                // The child:
                                "ZXGetLockLibStatus", "ZXSetGPUClockDefault", "0", "ZXSetLockLibStatus", "0",
                                "touch:" + marker("checked"), "wait:" + marker("third"), "ZXGetLockLibStatus",
                                "touch:" + marker("child-done"), "parent",
                                // The parent ends without giving the lock back:
                                "wait:" + marker("checked"), "ZXGetLockLibStatus"},
                               env);
    const auto parent = host.wait(a);
    const auto third = host.run({"ZXInitLib", "ZXGetLockLibStatus", "touch:" + marker("third")}, env);
    for (int i = 0; i < 2000 && !zxtest::fileExists(marker("child-done")); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(parent.of("ZXGetLockLibStatus"), "0 1");
    EXPECT_EQ(parent.of("child:ZXGetLockLibStatus"), "0 2");
    EXPECT_EQ(parent.of("child:ZXSetGPUClockDefault"), "4");
    EXPECT_EQ(parent.of("child:ZXSetLockLibStatus"), "1") << "the child has nothing to give back";
    EXPECT_EQ(third.of("ZXGetLockLibStatus"), "0 0") << "the parent's end freed the lock";
}

TEST_F(LockE2E, ALinkAtTheLockPathIsNeverFollowed) {
    const std::string lockPath = zxtest::lockDir() + "/ZXDisplayLibMutex";
    const std::string existing = zxtest::testRoot() + "/precious";
    zxtest::writeFile(existing, "keep");
    ASSERT_EQ(::chmod(existing.c_str(), 0600), 0);
    const std::string missing = zxtest::testRoot() + "/planted";
    for (const std::string& target : {existing, missing}) {
        SCOPED_TRACE(target);
        ::unlink(lockPath.c_str());
        ASSERT_EQ(::symlink(target.c_str(), lockPath.c_str()), 0);
        const auto r = host.run({"ZXInitLib", "ZXSetLockLibStatus", "1", "ZXGetLockLibStatus", "ZXSetGPUClockDefault",
                                 "0", "ZXSetDACLevel", "0", "1"},
                                env);
        EXPECT_EQ(r.of("ZXSetLockLibStatus"), "1");
        EXPECT_EQ(r.of("ZXGetLockLibStatus"), "0 0");
        EXPECT_EQ(r.of("ZXSetGPUClockDefault"), "0");
        EXPECT_EQ(r.of("ZXSetDACLevel"), "2");
    }
    EXPECT_FALSE(zxtest::fileExists(missing));
    EXPECT_EQ(zxtest::readFile(existing), "keep");
    struct stat st {};
    ASSERT_EQ(::stat(existing.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
}

// With a call counter preloaded into the host: after start-up no getter,
// setter or lock call allocates or opens a file, whether the lock is free,
// held here or held elsewhere.
TEST_F(LockE2E, NoCallAllocatesOrOpensAFileAfterStartUp) {
#ifdef ZX_TEST_SANITIZED
    GTEST_SKIP() << "the sanitizers' allocator cannot be counted by preloading";
#endif
    env.erase(env.begin() + 1);  // no driver call log: the simulator writes it through the heap
    zxtest::EnvVars counted = env;
    counted.emplace_back("LD_PRELOAD", ZX_TEST_COUNT_LIBRARY);
    auto everyCall = [] {
        auto c = flat(kGetters);
        append(c, allSetters());
        return c;
    };
    // The lock file is opened by the first lock call.
    std::vector<std::string> b = {"ZXInitLib", "ZXGetLockLibStatus", "count:start"};
    append(b, everyCall());
    append(b, {"ZXSetLockLibStatus", "1"});
    append(b, everyCall());
    append(b, {"ZXSetLockLibStatus", "0", "count:stop", "touch:" + marker("free"), "wait:" + marker("held"),
               "count:start"});
    append(b, everyCall());
    append(b, {"count:stop", "touch:" + marker("done")});
    const pid_t pb = host.start(b, counted);
    const pid_t pa = host.start({"ZXInitLib", "wait:" + marker("free"), "ZXSetLockLibStatus", "1",
                                 "touch:" + marker("held"), "wait:" + marker("done")},
                                env);
    const auto rb = host.wait(pb);
    host.wait(pa);
    EXPECT_EQ(rb.allOf("ZXGetLockLibStatus"), (std::vector<std::string>{"0 0", "0 0", "0 1", "0 2"}));
    EXPECT_EQ(rb.allOf("ZXSetGPUClockDefault"), (std::vector<std::string>{"0", "0", "4"}));
    EXPECT_EQ(rb.allOf("count"), (std::vector<std::string>{"0 0", "0 0"}));
}

}  // namespace
