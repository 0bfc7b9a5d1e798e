// The card lock between real processes: deployed hosts on one simulated card.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/fake_sysfs.h"
#include "support/host.h"
#include "support/test_env.h"

namespace {

using zxtest::Lines;
using zxtest::marker;

// Each setter with arguments that a working card would accept.
const std::string kSetters =
    "ZXSetCurrentVoltageLevel 0 1000 ZXSetPerformanceVoltageLevel 0 0 1000 ZXSetVoltageDefault 0 "
    "ZXSetCurrentMemoryVoltageLevel 0 1 ZXSetMemoryVoltageDefault 0 ZXSetPerformanceLevelGPUClock 0 0 300 "
    "ZXSetGPUClockDefault 0 ZXSetPerformanceLevelMemoryClock 0 0 500 ZXSetMemoryClockDefault 0 "
    "ZXSetPerformanceLevelShaderClock 0 0 600 ZXSetShaderClockDefault 0 ZXSetCurrentPWMClockLevel 0 1 "
    "ZXSetPWMClockDefault 0 ZXSetDACLevel 0 1 ZXSetFanSpeed 0 0 50 0 ZXSetFanSpeedDefault 0 0 0";

class LockE2E : public ::testing::Test {
protected:
    void SetUp() override {
        zxtest::addPciDevice("0000:01:00.0");
        env = driver.env(
            "gpu bus=1 levels=1\n"
            "clock sel=0 domain=0 freq=300000 min=100000 max=900000\n"
            "clock sel=0 domain=4 freq=500000 min=100000 max=900000\n"
            "clock sel=0 domain=7 freq=600000 min=100000 max=900000\n"
            "thermal temp=50\ncooler type=1 target=1 level=40\n");
    }
    zxtest::HostDeployment host;
    zxtest::SimDriver driver;
    zxtest::EnvVars env;
};

// The lock is the machine's: a holder with other user and runtime folders shuts others out; killed, it frees it.
TEST_F(LockE2E, AHolderShutsOutEveryOtherProcessesSettersUntilItIsKilled) {
    const std::string other = zxtest::testRoot() + "/other";
    zxtest::makeDirs(other + "/.config");
    zxtest::makeDirs(other + "/run");
    const pid_t a = host.start(
        {"ZXInitLib ZXSetLockLibStatus 1 ZXGetLockLibStatus touch:" + marker("held"), "wait:" + marker("go"),
         "ZXGetLockLibStatus ZXSetGPUClockDefault 0 ZXSetFanSpeed 0 0 55 0 touch:" + marker("done") + " hold"},
        zxtest::EnvVars{env[0],
                        env[1],
                        {"HOME", other},
                        {"XDG_CONFIG_HOME", other + "/.config"},
                        {"XDG_RUNTIME_DIR", other + "/run"}});
    // Before its own start-up a process is refused as well.
    const auto b = host.run({"wait:" + marker("held"), "ZXSetGPUClockDefault 0 ZXGetLockLibStatus ZXSetLockLibStatus 1",
                             "ZXInitLib ZXGetLockLibStatus ZXSetLockLibStatus 1", kSetters,
                             "ZXGetTemperature 0 ZXGetFanSpeed 0 0 0 touch:" + marker("go")},
                            env);
    EXPECT_EQ(b.allOf("ZXSetGPUClockDefault"), (Lines{"4", "4"}));
    EXPECT_EQ(b.allOf("ZXGetLockLibStatus"), (Lines{"3 2863311530", "0 2"}));  // not written before start-up
    EXPECT_EQ(b.allOf("ZXSetLockLibStatus"), (Lines{"3", "1"}));
    std::istringstream setters(kSetters);
    for (std::string name; setters >> name;) {
        if (name.rfind("ZX", 0) == 0) {
            EXPECT_EQ(b.allOf(name).back(), "4") << name;
        }
    }
    EXPECT_EQ(b.of("ZXGetTemperature") + " " + b.of("ZXGetFanSpeed"), "0 50 0 40");  // getters work
    while (!zxtest::fileExists(marker("done"))) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ::kill(a, SIGKILL);
    const auto ra = host.wait(a);
    EXPECT_EQ(ra.exitCode, -SIGKILL);
    EXPECT_EQ(ra.allOf("ZXGetLockLibStatus"), (Lines{"0 1", "0 1"}));
    EXPECT_EQ(ra.of("ZXSetGPUClockDefault") + ra.of("ZXSetFanSpeed"), "00");
    // Only the holder's two setters reached the driver.
    EXPECT_EQ(driver.logOf("SetCoolerLevels"), (Lines{"SetCoolerLevels gpu=0 index=0 rows=[55/1,0/0,0/0] -> 0"}));
    // Take, take again (still held), give back, again; only the flag's low byte counts: 0x201 takes, 0x100 gives back.
    const auto after =
        host.run({"ZXInitLib ZXGetLockLibStatus ZXSetLockLibStatus 1 ZXSetLockLibStatus 1 ZXGetLockLibStatus",
                  "ZXSetGPUClockDefault 0 ZXSetLockLibStatus 0 ZXSetLockLibStatus 0 ZXGetLockLibStatus",
                  "ZXSetLockLibStatus 0x201 ZXSetLockLibStatus 0x100 ZXGetLockLibStatus"},
                 env);
    EXPECT_EQ(after.allOf("ZXSetLockLibStatus"), (Lines{"0", "1", "0", "1", "0", "0"}));
    EXPECT_EQ(after.allOf("ZXGetLockLibStatus"), (Lines{"0 0", "0 1", "0 0", "0 0"}));
    EXPECT_EQ(after.of("ZXSetGPUClockDefault"), "0");
}

// Probing never takes the lock, so busy setters of two processes never see each other as holders.
TEST_F(LockE2E, BusySettersOfTwoProcessesAreNeverRefusedWhileNobodyHoldsIt) {
    const Lines commands = {"ZXInitLib wait:" + marker("go") + " repeat:2000 ZXSetDACLevel 0 1"};
    const pid_t a = host.start(commands, env);
    const pid_t b = host.start(commands, env);
    zxtest::writeFile(marker("go"), "");
    for (const auto& r : {host.wait(a), host.wait(b)}) {
        EXPECT_NE(r.of("repeat").find(" s2="), std::string::npos) << r.of("repeat");
        EXPECT_NE(r.of("repeat").find(" s4=0 "), std::string::npos) << r.of("repeat");
    }
}

TEST_F(LockE2E, OfTwoProcessesTakingAtOnceExactlyOneGetsIt) {
    constexpr int kRounds = 50;
    auto commands = [&](const std::string& me, const std::string& other) {
        Lines c = {"ZXInitLib"};
        for (int i = 0; i < kRounds; ++i) {
            // Both are ready (the last give-back done), both take, both have taken, both give back.
            const std::string n = std::to_string(i);
            c.push_back("touch:" + marker(me + "ready" + n) + " wait:" + marker(other + "ready" + n) +
                        " ZXSetLockLibStatus 1 touch:" + marker(me + "took" + n) +
                        " wait:" + marker(other + "took" + n) + " ZXSetLockLibStatus 0");
        }
        return c;
    };
    const pid_t a = host.start(commands("a", "b"), env);
    const auto takesB = host.run(commands("b", "a"), env).allOf("ZXSetLockLibStatus");
    const auto takesA = host.wait(a).allOf("ZXSetLockLibStatus");
    ASSERT_EQ(takesA.size(), 2u * kRounds);
    ASSERT_EQ(takesB.size(), 2u * kRounds);
    for (int i = 0; i < kRounds; ++i) {
        EXPECT_EQ((takesA[2 * i] == "0") + (takesB[2 * i] == "0"), 1) << "round " << i;
        EXPECT_EQ(takesA[2 * i + 1], takesA[2 * i] == "0" ? "0" : "1") << "only the taker gives back";
    }
}

// A hold outlives a failed later start-up (no vendor chosen): it is reported and given back, on request or by shutdown.
TEST_F(LockE2E, AHoldOutlivesAFailedStartUpAndCanBeGivenBack) {
    env = driver.env(zxtest::readFile(env[0].second) + "fault op=EnumPhysicalGPUs status=-1 after=1\n");
    for (const std::string giveBack : {"ZXSetLockLibStatus 0", "ZXDeInitLib"}) {
        SCOPED_TRACE(giveBack);
        const std::string tag = giveBack.substr(2, 3);
        const pid_t a =
            host.start({"ZXInitLib ZXSetLockLibStatus 1 ZXInitLib ZXGetLockLibStatus", giveBack,
                        "ZXGetLockLibStatus touch:" + marker(tag + "given") + " wait:" + marker(tag + "seen")},
                       env);
        const auto other = host.run(
            {"wait:" + marker(tag + "given") + " ZXInitLib ZXGetLockLibStatus touch:" + marker(tag + "seen")}, env);
        const auto ra = host.wait(a);
        EXPECT_EQ(ra.allOf("ZXInitLib"), (Lines{"0", "1"}));
        // Given back, and no vendor chosen: the library is not started.
        EXPECT_EQ(ra.allOf("ZXGetLockLibStatus"), (Lines{"0 1", "3 2863311530"}));
        EXPECT_EQ(ra.allOf(giveBack.substr(0, giveBack.find(' '))).back(), "0");
        EXPECT_EQ(other.of("ZXGetLockLibStatus"), "0 0");
    }
}

// A forked child shares its parent's open files: it must not hold the parent's lock nor keep it alive after the parent.
TEST_F(LockE2E, AForkedChildNeitherHoldsNorKeepsItsParentsLock) {
    const auto parent =
        host.run({"ZXInitLib ZXSetLockLibStatus 1 fork",
                  "ZXGetLockLibStatus ZXSetGPUClockDefault 0 ZXSetLockLibStatus 0 touch:" + marker("checked") +
                      " wait:" + marker("third") + " touch:" + marker("child-done"),
                  // The parent ends without giving the lock back:
                  "parent wait:" + marker("checked") + " ZXGetLockLibStatus"},
                 env);
    const auto third = host.run({"ZXInitLib ZXGetLockLibStatus touch:" + marker("third")}, env);
    for (int i = 0; i < 2000 && !zxtest::fileExists(marker("child-done")); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(parent.of("ZXGetLockLibStatus"), "0 1");
    // The child sees it held elsewhere and has nothing to give back.
    EXPECT_EQ(parent.of("child:ZXGetLockLibStatus") + " " + parent.of("child:ZXSetGPUClockDefault") + " " +
                  parent.of("child:ZXSetLockLibStatus"),
              "0 2 4 1");
    EXPECT_EQ(third.of("ZXGetLockLibStatus"), "0 0") << "the parent's end freed the lock";
}

TEST_F(LockE2E, ALinkAtTheLockPathIsNeverFollowed) {
    const std::string lockPath = zxtest::lockDir() + "/ZXDisplayLibMutex";
    const std::string existing = marker("precious"), missing = marker("planted");
    zxtest::writeFile(existing, "keep");
    ASSERT_EQ(::chmod(existing.c_str(), 0600), 0);
    for (const std::string& target : {existing, missing}) {
        ::unlink(lockPath.c_str());
        ASSERT_EQ(::symlink(target.c_str(), lockPath.c_str()), 0);
        const auto r = host.run(
            {"ZXInitLib ZXSetLockLibStatus 1 ZXGetLockLibStatus ZXSetGPUClockDefault 0 ZXSetDACLevel 0 1"}, env);
        EXPECT_EQ(r.lines, (Lines{"ZXInitLib 0", "ZXSetLockLibStatus 1", "ZXGetLockLibStatus 0 0",
                                  "ZXSetGPUClockDefault 0", "ZXSetDACLevel 2"}))
            << target;
    }
    EXPECT_FALSE(zxtest::fileExists(missing));
    EXPECT_EQ(zxtest::readFile(existing), "keep");
    struct stat st {};
    ASSERT_EQ(::stat(existing.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
}

// With a call counter preloaded: after start-up no call allocates or opens a file, lock free, held here or elsewhere.
TEST_F(LockE2E, NoCallAllocatesOrOpensAFileAfterStartUp) {
#ifdef ZX_TEST_SANITIZED
    GTEST_SKIP() << "the sanitizers' allocator cannot be counted by preloading";
#endif
    env.pop_back();  // no driver call log: the simulator writes it through the heap
    const std::string everyCall =
        "ZXGetAdapterInfo ZXGetControlMode ZXGetGpuCount ZXGetCurrentPerformanceLevel 0 ZXGetVGAInfoDescription 0 "
        "ZXGetCurrentVoltage 0 ZXGetPerformanceLevelVoltages 0 ZXGetPerformanceDefaultVoltages 0 ZXGetVoltageInfo 0 "
        "ZXGet2DDefaultVoltage 0 ZXGetCurrentMemoryVoltageLevel 0 ZXGetMemoryVoltageInfo 0 ZXGetMemoryVoltageDefault 0 "
        "ZXGetPerformanceLevelGPUClocks 0 ZXGetGPUClockInfo 0 ZXGetGPUClockInfoEx 0 0 ZXGetPerformanceDefaultGPUClocks "
        "0 "
        "ZXGetPerformanceLevelMemoryClocks 0 ZXGetMemoryClockInfo 0 ZXGetMemoryClockInfoEx 0 0 "
        "ZXGetPerformanceDefaultMemoryClocks 0 ZXGetPerformanceLevelShaderClocks 0 ZXGetShaderClockInfo 0 "
        "ZXGetShaderClockInfoEx 0 0 ZXGetPerformanceDefaultShaderClocks 0 ZXGetCurrentPWMClockLevel 0 "
        "ZXGetPWMClockInfo 0 ZXGetPWMClockDefault 0 ZXGetTemperature 0 ZXGetUsage 0 ZXGetDACLevel 0 "
        "ZXGetFanSpeedInfo 0 0 0 ZXGetFanSpeed 0 0 0 ZXGetLockLibStatus " +
        kSetters;
    // The lock file is opened by the first lock call.
    env.emplace_back("LD_PRELOAD", ZX_TEST_COUNT_LIBRARY);
    const pid_t pb =
        host.start({"ZXInitLib ZXGetLockLibStatus count:start", everyCall, "ZXSetLockLibStatus 1", everyCall,
                    "ZXSetLockLibStatus 0 count:stop touch:" + marker("free"),
                    "wait:" + marker("held") + " count:start", everyCall, "count:stop touch:" + marker("done")},
                   env);
    env.pop_back();
    const pid_t pa = host.start({"ZXInitLib wait:" + marker("free") + " ZXSetLockLibStatus 1 touch:" + marker("held") +
                                 " wait:" + marker("done")},
                                env);
    const auto rb = host.wait(pb);
    host.wait(pa);
    EXPECT_EQ(rb.allOf("ZXGetLockLibStatus"), (Lines{"0 0", "0 0", "0 1", "0 2"}));
    EXPECT_EQ(rb.allOf("ZXSetGPUClockDefault"), (Lines{"0", "0", "4"}));
    EXPECT_EQ(rb.allOf("count"), (Lines{"0 0", "0 0"}));
}

}  // namespace
