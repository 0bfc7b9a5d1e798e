// The NVAPI binding and the NVIDIA backend against a scripted driver that
// lies where drivers have (counts beyond the records), on an in-memory platform.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "api/state.h"
#include "nv/nv_backend.h"
#include "nv/nv_state.h"
#include "nv/nvapi_binding.h"
#include "support/fake_platform.h"

namespace {

using namespace zx::nv;

// A scripted NVAPI: what each operation answers, and which IDs it knows.
struct ScriptedDriver {
    NvStatus initStatus = 0;
    std::uint32_t gpuCount = 1, levelCount = 3, entryCount = 1, coolerCount = 1;
    std::vector<std::uint32_t> unanswered;
    std::vector<std::string> calls;
};
ScriptedDriver* g_driver = nullptr;

NvStatus ZX_NVAPI_CALL initialize() {
    g_driver->calls.push_back("Initialize");
    return g_driver->initStatus;
}
NvStatus ZX_NVAPI_CALL enumGpus(NvGpuHandle handles[kMaxPhysicalGpus], std::uint32_t* count) {
    g_driver->calls.push_back("Enum");
    for (std::uint32_t i = 0; i < kMaxPhysicalGpus; ++i) {
        handles[i] = reinterpret_cast<NvGpuHandle>(static_cast<std::uintptr_t>(0x1000 + i));
    }
    *count = g_driver->gpuCount;
    return 0;
}
NvStatus ZX_NVAPI_CALL getBusId(NvGpuHandle, std::uint32_t* bus) {
    *bus = 0;
    return 0;
}
NvStatus ZX_NVAPI_CALL getPerfClocks(NvGpuHandle, std::uint32_t selector, NvPerfClocksRecord* rec) {
    g_driver->calls.push_back("GetPerfClocks " + std::to_string(selector));
    rec->levelCount = g_driver->levelCount;
    rec->currentLevel = 0;
    rec->entryCount = g_driver->entryCount;
    // Only the entries that fit are written; the count may claim more.
    for (std::uint32_t i = 0; i < kMaxClockEntries; ++i) {
        rec->entries[i] = NvClockEntry{ClockDomain::Memory, 0, 100000, 100000, 0, 900000, 0};
    }
    rec->entries[0].domainId = ClockDomain::Processor;
    return 0;
}
NvStatus ZX_NVAPI_CALL setPerfClocks(NvGpuHandle, std::uint32_t selector, NvPerfClocksRecord*) {
    g_driver->calls.push_back("SetPerfClocks " + std::to_string(selector));
    return 0;
}
NvStatus ZX_NVAPI_CALL getCoolers(NvGpuHandle, std::uint32_t, NvCoolerRecord* rec) {
    rec->count = g_driver->coolerCount;
    for (auto& c : rec->coolers) c = NvCoolerRow{};
    return 0;
}
NvStatus ZX_NVAPI_CALL i2cRead(NvGpuHandle, NvI2cTransfer*, std::uint32_t*) { return 0; }

void* ZX_NVAPI_CALL queryInterface(std::uint32_t id) {
    if (std::find(g_driver->unanswered.begin(), g_driver->unanswered.end(), id) != g_driver->unanswered.end()) {
        return nullptr;
    }
    switch (id) {
    case NvapiId::Initialize: return reinterpret_cast<void*>(&initialize);
    case NvapiId::EnumPhysicalGpus: return reinterpret_cast<void*>(&enumGpus);
    case NvapiId::GetBusId: return reinterpret_cast<void*>(&getBusId);
    case NvapiId::GetPerfClocks: return reinterpret_cast<void*>(&getPerfClocks);
    case NvapiId::SetPerfClocks: return reinterpret_cast<void*>(&setPerfClocks);
    case NvapiId::GetCoolerSettings: return reinterpret_cast<void*>(&getCoolers);
    case NvapiId::I2cRead: return reinterpret_cast<void*>(&i2cRead);
    default: return nullptr;
    }
}

class NvBindingTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_driver = &driver;
        os.libraries[nvapiLibraryName()].symbols[kQueryInterfaceSymbol] = reinterpret_cast<void*>(&queryInterface);
        zx::platform::setPlatform(&os);
        resetNvapiBinding();
        nvState() = NvState{};
    }
    void TearDown() override {
        zx::platform::setPlatform(nullptr);
        resetNvapiBinding();
        nvState() = NvState{};
    }
    zx::StatusCode start() { return NvBackend::instance().startUp(table); }

    ScriptedDriver driver;
    zxtest::FakePlatform os;
    zx::AdapterTable table{};
};

TEST_F(NvBindingTest, EntriesAnswerMinusFourBeforeAndMinusThreeAfterInitialisation) {
    std::uint32_t temp = 0;
    // The driver's own codes: "not initialised" and "no implementation".
    EXPECT_EQ(nvapi().getThermalSettings(nullptr, 0, nullptr), -4);
    ASSERT_EQ(bindNvapi(os), kBindOk);
    EXPECT_EQ(nvapi().getThermalSettings(nullptr, 0, nullptr), -3);
    EXPECT_EQ(start(), zx::StatusCode::Ok);
    EXPECT_EQ(NvBackend::instance().getTemperature(0, &temp), zx::StatusCode::Failed);
}

TEST_F(NvBindingTest, ASecondBindingLoadsAndQueriesNothing) {
    ASSERT_EQ(bindNvapi(os), kBindOk);
    const auto loads = os.loadAttempts.size();
    const auto calls = driver.calls.size();
    EXPECT_EQ(bindNvapi(os), kBindOk);
    EXPECT_EQ(os.loadAttempts.size(), loads);
    EXPECT_EQ(driver.calls.size(), calls);
}

TEST_F(NvBindingTest, FailedBindingsSayWhyAndAreRetried) {
    driver.unanswered = {NvapiId::Initialize};
    EXPECT_EQ(bindNvapi(os), kBindNoInterface);
    driver.unanswered.clear();
    driver.initStatus = -1;
    EXPECT_EQ(bindNvapi(os), kBindNoInterface);
    driver.initStatus = 0;
    EXPECT_EQ(bindNvapi(os), kBindOk);

    resetNvapiBinding();
    zxtest::FakePlatform empty;
    EXPECT_EQ(bindNvapi(empty), kBindNoLibrary);
    zxtest::FakePlatform noEntry;
    noEntry.libraries[nvapiLibraryName()] = {};
    EXPECT_EQ(bindNvapi(noEntry), kBindNoInterface);
}

TEST_F(NvBindingTest, AGpuCountBeyondTheHandleArrayIsBoundedNoGpuMeansNoStart) {
    driver.gpuCount = 0;
    EXPECT_EQ(start(), zx::StatusCode::Failed);
    driver.gpuCount = 1000;
    ASSERT_EQ(start(), zx::StatusCode::Ok);
    std::uint32_t count = 0;
    NvBackend::instance().getGpuCount(&count);
    EXPECT_EQ(count, kMaxPhysicalGpus);
    std::uint32_t level = 0;
    EXPECT_EQ(NvBackend::instance().getCurrentPerformanceLevel(63, &level), zx::StatusCode::Ok);
    EXPECT_EQ(NvBackend::instance().getCurrentPerformanceLevel(64, &level), zx::StatusCode::Failed);
}

TEST_F(NvBindingTest, AnEntryCountBeyondTheRecordIsBounded) {
    driver.entryCount = 100000;
    ASSERT_EQ(start(), zx::StatusCode::Ok);
    // The GPU entry is looked for only among the entries the record holds.
    zx::LevelValues clocks{};
    EXPECT_EQ(NvBackend::instance().getPerformanceLevelGpuClocks(0, &clocks), zx::StatusCode::NotSupported);
    EXPECT_EQ(NvBackend::instance().getPerformanceLevelMemoryClocks(0, &clocks), zx::StatusCode::Ok);
    EXPECT_EQ(clocks.count, 3u);
    EXPECT_EQ(clocks.values[2], 100u);
}

TEST_F(NvBindingTest, MoreThanFourLevelsNeverWritePastTheRecordOrUseAnUndefinedSelector) {
    driver.levelCount = 9;
    driver.entryCount = 2;
    ASSERT_EQ(start(), zx::StatusCode::Ok);
    struct {
        zx::LevelValues clocks;
        std::uint32_t guard[4];
    } out;
    std::memset(&out, 0, sizeof out);
    EXPECT_EQ(NvBackend::instance().getPerformanceLevelMemoryClocks(0, &out.clocks), zx::StatusCode::Ok);
    EXPECT_EQ(out.clocks.count, 4u);
    for (auto g : out.guard) EXPECT_EQ(g, 0u);

    driver.calls.clear();
    EXPECT_EQ(NvBackend::instance().setMemoryClockDefault(0), zx::StatusCode::Ok);
    EXPECT_EQ(driver.calls, (std::vector<std::string>{"GetPerfClocks 0", "SetPerfClocks 0", "GetPerfClocks 1",
                                                      "SetPerfClocks 1", "GetPerfClocks 2", "SetPerfClocks 2",
                                                      "GetPerfClocks 4", "SetPerfClocks 4"}));
    zx::RangeInfo range{};
    driver.calls.clear();
    EXPECT_EQ(NvBackend::instance().getMemoryClockInfoEx(0, 4, &range), zx::StatusCode::NotSupported);
    EXPECT_EQ(NvBackend::instance().setPerformanceLevelMemoryClock(0, 4, 500), zx::StatusCode::NotSupported);
    EXPECT_TRUE(driver.calls.empty());
}

TEST_F(NvBindingTest, ACoolerCountBeyondTheRecordIsBounded) {
    driver.coolerCount = 50;
    ASSERT_EQ(start(), zx::StatusCode::Ok);
    std::uint32_t percent = 0;
    EXPECT_EQ(NvBackend::instance().getFanSpeed(0, 0, &percent, 0), zx::StatusCode::Failed);
}

TEST_F(NvBindingTest, AClockBeyondThirtyTwoBitsOfKilohertzIsRefused) {
    driver.entryCount = 2;
    ASSERT_EQ(start(), zx::StatusCode::Ok);
    driver.calls.clear();
    EXPECT_EQ(NvBackend::instance().setPerformanceLevelMemoryClock(0, 0, 4295667), zx::StatusCode::Failed);
    EXPECT_TRUE(driver.calls.empty());
}

}  // namespace
