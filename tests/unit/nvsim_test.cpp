// The simulated NVIDIA driver, driven directly through nvapi_QueryInterface as
// the library drives it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <set>

#include "nv/nvapi_types.h"
#include "support/nvsim.h"
#include "support/test_env.h"

namespace {

namespace nv = zx::nv;
using namespace zxtest::nvsim;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr std::uint32_t kAllIds[] = {
    nv::NvapiId::Initialize,         nv::NvapiId::EnumPhysicalGpus,      nv::NvapiId::GetBusId,
    nv::NvapiId::GetPerfClocks,      nv::NvapiId::SetPerfClocks,         nv::NvapiId::GetThermalSettings,
    nv::NvapiId::GetCoolerSettings,  nv::NvapiId::SetCoolerLevels,       nv::NvapiId::RestoreCoolerSettings,
    nv::NvapiId::I2cRead,            nv::NvapiId::I2cWrite,
};

// Two GPUs, enumerated with the higher bus first. GPU 0: three levels with
// graphics and memory clocks (plus shader at selector 1), a cooler that is not
// the GPU fan in row 0 and the fan in row 1, and a register device at 0x3E.
ScenarioBuilder twoGpus() {
    ScenarioBuilder s;
    s.gpu(3, 3, 1)
        .clock(Clock(0, nv::ClockDomain::Graphics, 300000).range(100000, 1000000))
        .clock(Clock(0, nv::ClockDomain::Memory, 400000).range(100000, 1200000))
        .clock(Clock(1, nv::ClockDomain::Graphics, 500000).range(100000, 1000000))
        .clock(Clock(1, nv::ClockDomain::Memory, 800000).range(100000, 1200000))
        .clock(Clock(1, nv::ClockDomain::Processor, 1000000).range(200000, 2000000).defaultFreq(1100000))
        .clock(Clock(2, nv::ClockDomain::Graphics, 600000).range(100000, 1000000))
        .thermal(65)
        .cooler(Cooler().target(2).range(0, 100).level(20))
        .cooler(Cooler().target(nv::kCoolerTargetAll).range(30, 100).level(40).defaultPolicy(4))
        .i2c(0x3E, 0x20, 0x95)
        .i2c(0x3E, 0x15, 0x01);
    s.gpu(1, 2, 0)
        .clock(Clock(0, nv::ClockDomain::Graphics, 250000).range(100000, 600000))
        .thermal(50)
        .cooler(Cooler().range(30, 90).level(45));
    return s;
}

nv::NvPerfClocksRecord* newPerfRecord(std::unique_ptr<nv::NvPerfClocksRecord>& holder, std::uint8_t fill = 0) {
    holder = std::make_unique<nv::NvPerfClocksRecord>();
    std::memset(holder.get(), fill, sizeof(nv::NvPerfClocksRecord));
    holder->version = nv::kPerfClocksVersion;
    return holder.get();
}

// A one-byte transfer as the library makes it.
struct Transfer {
    std::uint8_t reg = 0;
    std::uint8_t data = 0xFF;
    std::uint32_t one = 1;
    nv::NvI2cTransfer rec{};

    Transfer(std::uint8_t address, std::uint8_t registerNumber, std::uint8_t byte = 0xFF)
        : reg(registerNumber), data(byte) {
        rec.version = nv::kI2cVersion;
        rec.deviceAddress = address;
        rec.registerAddress = &reg;
        rec.registerAddressSize = 1;
        rec.data = &data;
        rec.dataSize = 1;
        rec.speed = nv::kI2cSpeed;
    }
    Transfer(const Transfer&) = delete;
};

class NvSim : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(sim.loaded()); }

    // A freshly loaded driver; initialised and enumerated unless asked not to.
    void start(const ScenarioBuilder& scenario, bool initialise = true) {
        ASSERT_EQ(sim.load(scenario), 0) << sim.lastError();
        sim.reset();
        initialize = sim.op<nv::NvInitializeFn>(nv::NvapiId::Initialize);
        enumerate = sim.op<nv::NvEnumPhysicalGpusFn>(nv::NvapiId::EnumPhysicalGpus);
        busId = sim.op<nv::NvGetBusIdFn>(nv::NvapiId::GetBusId);
        getClocks = sim.op<nv::NvGetPerfClocksFn>(nv::NvapiId::GetPerfClocks);
        setClocks = sim.op<nv::NvSetPerfClocksFn>(nv::NvapiId::SetPerfClocks);
        thermal = sim.op<nv::NvGetThermalSettingsFn>(nv::NvapiId::GetThermalSettings);
        getCoolers = sim.op<nv::NvGetCoolerSettingsFn>(nv::NvapiId::GetCoolerSettings);
        setCooler = sim.op<nv::NvSetCoolerLevelsFn>(nv::NvapiId::SetCoolerLevels);
        restoreCooler = sim.op<nv::NvRestoreCoolerSettingsFn>(nv::NvapiId::RestoreCoolerSettings);
        i2cRead = sim.op<nv::NvI2cReadFn>(nv::NvapiId::I2cRead);
        i2cWrite = sim.op<nv::NvI2cWriteFn>(nv::NvapiId::I2cWrite);
        if (initialise) {
            ASSERT_EQ(initialize(), 0);
            ASSERT_EQ(enumerate(gpus, &gpuCount), 0);
        }
        sim.clearLog();
    }

    nv::NvStatus readByte(nv::NvGpuHandle gpu, std::uint8_t address, std::uint8_t reg, std::uint8_t& out) {
        Transfer t(address, reg, out);
        nv::NvStatus status = i2cRead(gpu, &t.rec, &t.one);
        out = t.data;
        return status;
    }
    nv::NvStatus writeByte(nv::NvGpuHandle gpu, std::uint8_t address, std::uint8_t reg, std::uint8_t value) {
        Transfer t(address, reg, value);
        return i2cWrite(gpu, &t.rec, &t.one);
    }

    nv::NvCoolerRecord coolers(nv::NvGpuHandle gpu) {
        nv::NvCoolerRecord rec{};
        rec.version = nv::kCoolerVersion;
        EXPECT_EQ(getCoolers(gpu, nv::kCoolerSelectorAll, &rec), 0);
        return rec;
    }
    nv::NvStatus setFan(nv::NvGpuHandle gpu, std::uint32_t index, std::uint32_t level, std::uint32_t policy) {
        nv::NvCoolerLevelsRecord rec{};
        rec.version = nv::kCoolerLevelsVersion;
        rec.coolers[index % nv::kMaxCoolers] = {level, policy};
        return setCooler(gpu, index, &rec);
    }

    Simulator sim;
    nv::NvInitializeFn initialize = nullptr;
    nv::NvEnumPhysicalGpusFn enumerate = nullptr;
    nv::NvGetBusIdFn busId = nullptr;
    nv::NvGetPerfClocksFn getClocks = nullptr;
    nv::NvSetPerfClocksFn setClocks = nullptr;
    nv::NvGetThermalSettingsFn thermal = nullptr;
    nv::NvGetCoolerSettingsFn getCoolers = nullptr;
    nv::NvSetCoolerLevelsFn setCooler = nullptr;
    nv::NvRestoreCoolerSettingsFn restoreCooler = nullptr;
    nv::NvI2cReadFn i2cRead = nullptr;
    nv::NvI2cWriteFn i2cWrite = nullptr;
    nv::NvGpuHandle gpus[nv::kMaxPhysicalGpus] = {};
    std::uint32_t gpuCount = 0;
};

// --- Interface lookup and initialisation ---

TEST_F(NvSim, UnknownInterfaceIdIsNotAnswered) {
    start(twoGpus());
    EXPECT_EQ(sim.query(0x12345678), nullptr);
    EXPECT_EQ(sim.query(0), nullptr);
    EXPECT_THAT(sim.log(), ElementsAre("QueryInterface 0x12345678 -> none", "QueryInterface 0x00000000 -> none"));
}

TEST_F(NvSim, OperationsBeforeInitializeFailAndTouchNothing) {
    start(twoGpus());
    nv::NvGpuHandle gpu0 = gpus[0];
    sim.reset();  // not initialised any more; the handle is still GPU 0's
    ASSERT_FALSE(sim.initialised());

    nv::NvGpuHandle handles[nv::kMaxPhysicalGpus] = {};
    std::uint32_t count = 7;
    EXPECT_EQ(enumerate(handles, &count), ZXSIM_NVAPI_NOT_INITIALISED);
    EXPECT_EQ(count, 7u);
    EXPECT_EQ(handles[0], nullptr);
    std::uint32_t bus = 99;
    EXPECT_EQ(busId(gpu0, &bus), ZXSIM_NVAPI_NOT_INITIALISED);
    EXPECT_EQ(bus, 99u);
    std::unique_ptr<nv::NvPerfClocksRecord> holder;
    nv::NvPerfClocksRecord* rec = newPerfRecord(holder);
    EXPECT_EQ(getClocks(gpu0, 0, rec), ZXSIM_NVAPI_NOT_INITIALISED);
    EXPECT_EQ(rec->levelCount, 0u);
    EXPECT_EQ(setClocks(gpu0, 0, rec), ZXSIM_NVAPI_NOT_INITIALISED);
    nv::NvThermalRecord th{};
    th.version = nv::kThermalVersion;
    EXPECT_EQ(thermal(gpu0, 0, &th), ZXSIM_NVAPI_NOT_INITIALISED);
    EXPECT_EQ(th.sensorCount, 0u);
    nv::NvCoolerRecord co{};
    co.version = nv::kCoolerVersion;
    EXPECT_EQ(getCoolers(gpu0, nv::kCoolerSelectorAll, &co), ZXSIM_NVAPI_NOT_INITIALISED);
    EXPECT_EQ(setFan(gpu0, 1, 60, 1), ZXSIM_NVAPI_NOT_INITIALISED);
    std::uint32_t index = 1;
    EXPECT_EQ(restoreCooler(gpu0, &index, 1), ZXSIM_NVAPI_NOT_INITIALISED);
    std::uint8_t byte = 0xFF;
    EXPECT_EQ(readByte(gpu0, 0x3E, 0x20, byte), ZXSIM_NVAPI_NOT_INITIALISED);
    EXPECT_EQ(byte, 0xFF);
    EXPECT_EQ(writeByte(gpu0, 0x3E, 0x15, 0x00), ZXSIM_NVAPI_NOT_INITIALISED);
    EXPECT_EQ(sim.i2cPeek(0, 0x3E, 0x15), 0x01);

    EXPECT_EQ(initialize(), 0);
    EXPECT_TRUE(sim.initialised());
    EXPECT_EQ(busId(gpu0, &bus), 0);
    EXPECT_EQ(bus, 3u);
}

TEST_F(NvSim, LoadingAnotherScenarioKeepsInitialisation) {
    // A library initialises NVAPI once per process; swapping the simulated
    // cards under it must not undo that.
    start(twoGpus());
    ASSERT_EQ(sim.load(ScenarioBuilder().gpu(9)), 0);
    EXPECT_TRUE(sim.initialised());
    std::uint32_t bus = 0;
    EXPECT_EQ(busId(gpus[0], &bus), 0);
    EXPECT_EQ(bus, 9u);
}

// --- Enumeration and handles ---

TEST_F(NvSim, EnumeratesGpusInScenarioOrderWithTheirBuses) {
    start(twoGpus());
    ASSERT_EQ(gpuCount, 2u);
    EXPECT_NE(gpus[0], nullptr);
    EXPECT_NE(gpus[1], nullptr);
    EXPECT_NE(gpus[0], gpus[1]);
    std::uint32_t bus0 = 0, bus1 = 0;
    EXPECT_EQ(busId(gpus[0], &bus0), 0);
    EXPECT_EQ(busId(gpus[1], &bus1), 0);
    EXPECT_EQ(bus0, 3u);
    EXPECT_EQ(bus1, 1u);

    start(ScenarioBuilder().gpu(5).gpu(2).gpu(9));
    ASSERT_EQ(gpuCount, 3u);
    std::uint32_t buses[3] = {};
    for (unsigned i = 0; i < 3; ++i) {
        EXPECT_EQ(busId(gpus[i], &buses[i]), 0);
    }
    EXPECT_THAT(buses, ElementsAre(5u, 2u, 9u));
}

TEST_F(NvSim, HandlesOutsideTheScenarioAreRejected) {
    start(twoGpus());
    nv::NvGpuHandle second = gpus[1];
    int local = 0;
    std::uint32_t bus = 77;
    EXPECT_EQ(busId(nullptr, &bus), ZXSIM_NVAPI_INVALID_HANDLE);
    EXPECT_EQ(busId(&local, &bus), ZXSIM_NVAPI_INVALID_HANDLE);
    EXPECT_EQ(bus, 77u);

    ASSERT_EQ(sim.load(ScenarioBuilder().gpu(4)), 0);
    EXPECT_EQ(busId(second, &bus), ZXSIM_NVAPI_INVALID_HANDLE);
    EXPECT_EQ(bus, 77u);
    nv::NvThermalRecord th{};
    th.version = nv::kThermalVersion;
    EXPECT_EQ(thermal(second, 0, &th), ZXSIM_NVAPI_INVALID_HANDLE);
}

TEST_F(NvSim, ClockQueryFillsLevelAndEntriesAndLeavesTheRest) {
    start(twoGpus());
    std::unique_ptr<nv::NvPerfClocksRecord> holder;
    nv::NvPerfClocksRecord* rec = newPerfRecord(holder, 0xAB);
    ASSERT_EQ(getClocks(gpus[0], 1, rec), 0);
    EXPECT_EQ(rec->levelCount, 3u);
    EXPECT_EQ(rec->currentLevel, 1u);
    ASSERT_EQ(rec->entryCount, 3u);
    EXPECT_EQ(rec->entries[0].domainId, nv::ClockDomain::Graphics);
    EXPECT_EQ(rec->entries[0].frequencyKHz, 500000u);
    EXPECT_EQ(rec->entries[0].defaultKHz, 500000u);
    EXPECT_EQ(rec->entries[0].minKHz, 100000u);
    EXPECT_EQ(rec->entries[0].maxKHz, 1000000u);
    EXPECT_EQ(rec->entries[0].flags, 0u);
    EXPECT_EQ(rec->entries[1].domainId, nv::ClockDomain::Memory);
    EXPECT_EQ(rec->entries[1].frequencyKHz, 800000u);
    EXPECT_EQ(rec->entries[2].domainId, nv::ClockDomain::Processor);
    EXPECT_EQ(rec->entries[2].frequencyKHz, 1000000u);
    EXPECT_EQ(rec->entries[2].defaultKHz, 1100000u);
    EXPECT_EQ(rec->entries[2].maxKHz, 2000000u);
    // Bytes the driver does not fill keep what the caller had there.
    EXPECT_EQ(rec->reserved[0], 0xAB);
    EXPECT_EQ(rec->reserved[11], 0xAB);
    EXPECT_EQ(rec->entries[3].domainId, 0xABABABABu);
    EXPECT_EQ(rec->tail[sizeof rec->tail - 1], 0xAB);

    // A selector without entries reports none; the GPU's own level count holds.
    rec = newPerfRecord(holder);
    ASSERT_EQ(getClocks(gpus[0], 4, rec), 0);
    EXPECT_EQ(rec->levelCount, 3u);
    EXPECT_EQ(rec->entryCount, 0u);
    ASSERT_EQ(getClocks(gpus[1], 0, rec), 0);
    EXPECT_EQ(rec->levelCount, 2u);
    EXPECT_EQ(rec->currentLevel, 0u);
    EXPECT_EQ(rec->entryCount, 1u);
    EXPECT_EQ(rec->entries[0].frequencyKHz, 250000u);
}

TEST_F(NvSim, ClockSetThenQueryAgree) {
    start(twoGpus());
    std::unique_ptr<nv::NvPerfClocksRecord> holder;
    nv::NvPerfClocksRecord* rec = newPerfRecord(holder);
    ASSERT_EQ(getClocks(gpus[0], 1, rec), 0);
    rec->entries[0].frequencyKHz = 700000;
    rec->entries[0].flags |= nv::kClockEntryApply;
    ASSERT_EQ(setClocks(gpus[0], 1, rec), 0);

    rec = newPerfRecord(holder);
    ASSERT_EQ(getClocks(gpus[0], 1, rec), 0);
    EXPECT_EQ(rec->entries[0].frequencyKHz, 700000u);
    EXPECT_EQ(rec->entries[0].defaultKHz, 500000u);
    EXPECT_EQ(sim.clockKHz(0, 1, nv::ClockDomain::Graphics), 700000);
    // Other levels and GPUs are untouched.
    EXPECT_EQ(sim.clockKHz(0, 0, nv::ClockDomain::Graphics), 300000);
    EXPECT_EQ(sim.clockKHz(1, 0, nv::ClockDomain::Graphics), 250000);
}

TEST_F(NvSim, OnlyFlaggedEntriesAreApplied) {
    start(twoGpus());
    std::unique_ptr<nv::NvPerfClocksRecord> holder;
    nv::NvPerfClocksRecord* rec = newPerfRecord(holder);
    ASSERT_EQ(getClocks(gpus[0], 1, rec), 0);
    rec->entries[0].frequencyKHz = 900000;  // changed, not flagged
    rec->entries[1].frequencyKHz = 1000000;
    rec->entries[1].flags = nv::kClockEntryApply;
    rec->entries[2].flags = 0x2;            // another bit is no request
    rec->entries[2].frequencyKHz = 1500000;
    ASSERT_EQ(setClocks(gpus[0], 1, rec), 0);
    EXPECT_EQ(sim.clockKHz(0, 1, nv::ClockDomain::Graphics), 500000);
    EXPECT_EQ(sim.clockKHz(0, 1, nv::ClockDomain::Memory), 1000000);
    EXPECT_EQ(sim.clockKHz(0, 1, nv::ClockDomain::Processor), 1000000);
}

TEST_F(NvSim, RejectedClockSetChangesNothing) {
    start(twoGpus());
    std::unique_ptr<nv::NvPerfClocksRecord> holder;
    nv::NvPerfClocksRecord* rec = newPerfRecord(holder);

    // One flagged entry above its maximum spoils the whole set.
    ASSERT_EQ(getClocks(gpus[0], 1, rec), 0);
    rec->entries[0].frequencyKHz = 700000;
    rec->entries[0].flags = nv::kClockEntryApply;
    rec->entries[1].frequencyKHz = 1200001;
    rec->entries[1].flags = nv::kClockEntryApply;
    EXPECT_EQ(setClocks(gpus[0], 1, rec), ZXSIM_NVAPI_INVALID_ARGUMENT);
    EXPECT_EQ(sim.clockKHz(0, 1, nv::ClockDomain::Graphics), 500000);
    EXPECT_EQ(sim.clockKHz(0, 1, nv::ClockDomain::Memory), 800000);

    // Below the minimum.
    rec->entries[1].frequencyKHz = 99999;
    EXPECT_EQ(setClocks(gpus[0], 1, rec), ZXSIM_NVAPI_INVALID_ARGUMENT);
    EXPECT_EQ(sim.clockKHz(0, 1, nv::ClockDomain::Graphics), 500000);

    // The bounds themselves are allowed.
    rec->entries[1].frequencyKHz = 1200000;
    EXPECT_EQ(setClocks(gpus[0], 1, rec), 0);
    EXPECT_EQ(sim.clockKHz(0, 1, nv::ClockDomain::Memory), 1200000);

    // A domain the level does not have (no shader clock at selector 0).
    rec = newPerfRecord(holder);
    ASSERT_EQ(getClocks(gpus[0], 0, rec), 0);
    rec->entryCount = 3;
    rec->entries[0].flags = nv::kClockEntryApply;
    rec->entries[2] = rec->entries[0];
    rec->entries[2].domainId = nv::ClockDomain::Processor;
    EXPECT_EQ(setClocks(gpus[0], 0, rec), ZXSIM_NVAPI_INVALID_ARGUMENT);
    // A selector without entries has no domain at all.
    rec = newPerfRecord(holder);
    ASSERT_EQ(getClocks(gpus[0], 0, rec), 0);
    rec->entries[0].frequencyKHz = 310000;
    rec->entries[0].flags = nv::kClockEntryApply;
    EXPECT_EQ(setClocks(gpus[0], 4, rec), ZXSIM_NVAPI_INVALID_ARGUMENT);
    EXPECT_EQ(sim.clockKHz(0, 0, nv::ClockDomain::Graphics), 300000);

    // An entry count beyond the record.
    rec->entryCount = nv::kMaxClockEntries + 1;
    EXPECT_EQ(setClocks(gpus[0], 0, rec), ZXSIM_NVAPI_INVALID_ARGUMENT);
    EXPECT_EQ(sim.clockKHz(0, 0, nv::ClockDomain::Graphics), 300000);
}

// --- Record versions ---

TEST_F(NvSim, WrongRecordVersionsAreRejectedUntouched) {
    start(twoGpus());
    std::unique_ptr<nv::NvPerfClocksRecord> holder;
    nv::NvPerfClocksRecord* rec = newPerfRecord(holder);
    rec->version = nv::kPerfClocksVersion + 1;
    EXPECT_EQ(getClocks(gpus[0], 0, rec), ZXSIM_NVAPI_VERSION_MISMATCH);
    EXPECT_EQ(rec->levelCount, 0u);
    EXPECT_EQ(rec->entryCount, 0u);

    rec = newPerfRecord(holder);
    ASSERT_EQ(getClocks(gpus[0], 0, rec), 0);
    rec->entries[0].frequencyKHz = 320000;
    rec->entries[0].flags = nv::kClockEntryApply;
    rec->version = nv::recordVersion(sizeof(nv::NvPerfClocksRecord)) & 0xFFFF;  // version 0
    EXPECT_EQ(setClocks(gpus[0], 0, rec), ZXSIM_NVAPI_VERSION_MISMATCH);
    EXPECT_EQ(sim.clockKHz(0, 0, nv::ClockDomain::Graphics), 300000);

    nv::NvThermalRecord th{};
    th.version = nv::kThermalVersion - 4;
    EXPECT_EQ(thermal(gpus[0], 0, &th), ZXSIM_NVAPI_VERSION_MISMATCH);
    EXPECT_EQ(th.sensorCount, 0u);

    nv::NvCoolerRecord co{};
    co.version = nv::kThermalVersion;
    EXPECT_EQ(getCoolers(gpus[0], nv::kCoolerSelectorAll, &co), ZXSIM_NVAPI_VERSION_MISMATCH);
    EXPECT_EQ(co.count, 0u);

    nv::NvCoolerLevelsRecord levels{};
    levels.version = nv::kCoolerVersion;
    levels.coolers[1] = {60, 1};
    EXPECT_EQ(setCooler(gpus[0], 1, &levels), ZXSIM_NVAPI_VERSION_MISMATCH);
    EXPECT_EQ(sim.coolerLevel(0, 1), 40);

    Transfer t(0x3E, 0x20);
    t.rec.version = nv::recordVersion(32);  // a 32-bit build's record
    if (t.rec.version != nv::kI2cVersion) {
        EXPECT_EQ(i2cRead(gpus[0], &t.rec, &t.one), ZXSIM_NVAPI_VERSION_MISMATCH);
        EXPECT_EQ(t.data, 0xFF);
    }
    t.rec.version = nv::kI2cVersion ^ 0x10000;
    EXPECT_EQ(i2cWrite(gpus[0], &t.rec, &t.one), ZXSIM_NVAPI_VERSION_MISMATCH);
    EXPECT_EQ(sim.i2cPeek(0, 0x3E, 0x20), 0x95);
}

// --- Thermal ---

TEST_F(NvSim, CoolerLevelSetShowsInTheNextQuery) {
    start(twoGpus());
    ASSERT_EQ(setFan(gpus[0], 1, 60, nv::kCoolerPolicyManual), 0);
    nv::NvCoolerRecord rec = coolers(gpus[0]);
    EXPECT_EQ(rec.coolers[1].currentLevel, 60u);
    EXPECT_EQ(rec.coolers[1].currentPolicy, nv::kCoolerPolicyManual);
    EXPECT_EQ(rec.coolers[1].defaultPolicy, 4u);
    EXPECT_EQ(rec.coolers[0].currentLevel, 20u);
    EXPECT_EQ(sim.coolerLevel(1, 0), 45);
}

TEST_F(NvSim, CoolerLevelOutsideItsRangeIsRejected) {
    start(twoGpus());
    EXPECT_EQ(setFan(gpus[0], 1, 29, 1), ZXSIM_NVAPI_INVALID_ARGUMENT);
    EXPECT_EQ(setFan(gpus[0], 1, 101, 1), ZXSIM_NVAPI_INVALID_ARGUMENT);
    EXPECT_EQ(setFan(gpus[0], 2, 50, 1), ZXSIM_NVAPI_INVALID_ARGUMENT);  // no third row
    EXPECT_EQ(setFan(gpus[0], 7, 50, 1), ZXSIM_NVAPI_INVALID_ARGUMENT);
    EXPECT_EQ(sim.coolerLevel(0, 1), 40);
    EXPECT_EQ(sim.coolerPolicy(0, 1), 4);
    EXPECT_EQ(setFan(gpus[0], 1, 30, 1), 0);
    EXPECT_EQ(setFan(gpus[0], 1, 100, 1), 0);
    EXPECT_EQ(sim.coolerLevel(0, 1), 100);
}

TEST_F(NvSim, CoolerRestoreGivesTheDriverControlBack) {
    start(twoGpus());
    ASSERT_EQ(setFan(gpus[0], 1, 75, nv::kCoolerPolicyManual), 0);
    ASSERT_EQ(setFan(gpus[0], 0, 90, nv::kCoolerPolicyManual), 0);
    std::uint32_t index = 1;
    ASSERT_EQ(restoreCooler(gpus[0], &index, 1), 0);
    nv::NvCoolerRecord rec = coolers(gpus[0]);
    EXPECT_EQ(rec.coolers[1].currentLevel, 40u);
    EXPECT_EQ(rec.coolers[1].currentPolicy, 4u);
    EXPECT_EQ(rec.coolers[0].currentLevel, 90u);  // not in the list

    std::uint32_t bad[2] = {0, 5};
    EXPECT_EQ(restoreCooler(gpus[0], bad, 2), ZXSIM_NVAPI_INVALID_ARGUMENT);
    EXPECT_EQ(sim.coolerLevel(0, 0), 90);
    EXPECT_EQ(restoreCooler(gpus[0], &index, 0), ZXSIM_NVAPI_INVALID_ARGUMENT);
    EXPECT_EQ(restoreCooler(gpus[0], &index, 4), ZXSIM_NVAPI_INVALID_ARGUMENT);
}

// --- I2C ---

TEST_F(NvSim, RegisterDeviceReadsWhatWasWritten) {
    start(twoGpus());
    std::uint8_t byte = 0xFF;
    EXPECT_EQ(readByte(gpus[0], 0x3E, 0x20, byte), 0);
    EXPECT_EQ(byte, 0x95);
    EXPECT_EQ(readByte(gpus[0], 0x3E, 0x15, byte), 0);
    EXPECT_EQ(byte, 0x01);
    byte = 0x55;
    EXPECT_EQ(readByte(gpus[0], 0x3E, 0x42, byte), 0);  // never written: zero
    EXPECT_EQ(byte, 0x00);

    EXPECT_EQ(writeByte(gpus[0], 0x3E, 0x15, 0xFF), 0);
    EXPECT_EQ(readByte(gpus[0], 0x3E, 0x15, byte), 0);
    EXPECT_EQ(byte, 0xFF);
    EXPECT_EQ(sim.i2cPeek(0, 0x3E, 0x15), 0xFF);
    EXPECT_EQ(sim.i2cPoke(0, 0x3E, 0x16, 0x3C), 0);
    EXPECT_EQ(readByte(gpus[0], 0x3E, 0x16, byte), 0);
    EXPECT_EQ(byte, 0x3C);
}

TEST_F(NvSim, AbsentDeviceFailsAndLeavesTheByte) {
    start(twoGpus());
    std::uint8_t byte = 0xFF;
    EXPECT_NE(readByte(gpus[0], 0x6E, 0x20, byte), 0);
    EXPECT_EQ(byte, 0xFF);
    EXPECT_NE(writeByte(gpus[0], 0x6E, 0x10, 0x12), 0);
    EXPECT_EQ(sim.i2cPeek(0, 0x6E, 0x10), -1);
    EXPECT_EQ(sim.i2cPoke(0, 0x6E, 0x10, 1), -1);
    // Buses are per GPU.
    EXPECT_NE(readByte(gpus[1], 0x3E, 0x20, byte), 0);
    EXPECT_EQ(byte, 0xFF);
    // A display's DDC port is another bus.
    Transfer t(0x3E, 0x20);
    t.rec.isDdcPort = 1;
    EXPECT_NE(i2cRead(gpus[0], &t.rec, &t.one), 0);
    EXPECT_EQ(t.data, 0xFF);
}

TEST_F(NvSim, FaultReturnsItsStatusAndTouchesNothing) {
    start(twoGpus().fault(Fault("GetThermalSettings", -1)).fault(Fault("SetPerfClocks", 0)));
    nv::NvThermalRecord th{};
    th.version = nv::kThermalVersion;
    EXPECT_EQ(thermal(gpus[0], 0, &th), -1);
    EXPECT_EQ(th.sensorCount, 0u);
    EXPECT_EQ(thermal(gpus[1], 0, &th), -1);
    std::uint32_t bus = 0;
    EXPECT_EQ(busId(gpus[0], &bus), 0);

    // A fault may claim success and still do nothing.
    std::unique_ptr<nv::NvPerfClocksRecord> holder;
    nv::NvPerfClocksRecord* rec = newPerfRecord(holder);
    ASSERT_EQ(getClocks(gpus[0], 0, rec), 0);
    rec->entries[0].frequencyKHz = 310000;
    rec->entries[0].flags = nv::kClockEntryApply;
    EXPECT_EQ(setClocks(gpus[0], 0, rec), 0);
    EXPECT_EQ(sim.clockKHz(0, 0, nv::ClockDomain::Graphics), 300000);
}

TEST_F(NvSim, FaultForOneGpuLeavesTheOthers) {
    start(twoGpus().fault(Fault("GetCoolerSettings", -3).gpu(1)));
    nv::NvCoolerRecord rec{};
    rec.version = nv::kCoolerVersion;
    EXPECT_EQ(getCoolers(gpus[0], 7, &rec), 0);
    EXPECT_EQ(getCoolers(gpus[1], 7, &rec), -3);
    EXPECT_EQ(getCoolers(gpus[0], 7, &rec), 0);
}

TEST_F(NvSim, FaultAfterCallsAndForSomeTimes) {
    start(twoGpus()
              .fault(Fault("GetBusId", -5).gpu(0).after(2))
              .fault(Fault("I2CRead", -1).after(1).times(2)));
    std::uint32_t bus = 0;
    EXPECT_EQ(busId(gpus[0], &bus), 0);
    EXPECT_EQ(busId(gpus[1], &bus), 0);  // another GPU's call does not count
    EXPECT_EQ(busId(gpus[0], &bus), 0);
    EXPECT_EQ(busId(gpus[0], &bus), -5);
    EXPECT_EQ(busId(gpus[0], &bus), -5);
    EXPECT_EQ(busId(gpus[1], &bus), 0);

    std::uint8_t byte = 0;
    std::vector<nv::NvStatus> reads;
    for (int i = 0; i < 5; ++i) {
        reads.push_back(readByte(gpus[0], 0x3E, 0x20, byte));
    }
    EXPECT_THAT(reads, ElementsAre(0, -1, -1, 0, 0));

    // Reset starts the counts again.
    sim.reset();
    ASSERT_EQ(initialize(), 0);
    EXPECT_EQ(busId(gpus[0], &bus), 0);
}

TEST_F(NvSim, MissingOperationIsNotAnswered) {
    start(twoGpus().missing("SetPerfClocks").missing("I2CWrite"));
    EXPECT_EQ(sim.query(nv::NvapiId::SetPerfClocks), nullptr);
    EXPECT_EQ(sim.query(nv::NvapiId::I2cWrite), nullptr);
    EXPECT_NE(sim.query(nv::NvapiId::GetPerfClocks), nullptr);
    EXPECT_THAT(sim.log(), ElementsAre("QueryInterface 0x07BCF4AC -> none", "QueryInterface 0x283AC65A -> none",
                                       "QueryInterface 0x1EA54A3B -> found"));
}

TEST_F(NvSim, InitializeFailureLeavesTheDriverUnusable) {
    start(twoGpus().initStatus(-1), false);
    EXPECT_EQ(initialize(), -1);
    EXPECT_FALSE(sim.initialised());
    std::uint32_t count = 0;
    EXPECT_EQ(enumerate(gpus, &count), ZXSIM_NVAPI_NOT_INITIALISED);

    start(twoGpus().missing("Initialize"), false);
    EXPECT_EQ(initialize, nullptr);
}

TEST_F(NvSim, FaultsCanBeAddedToARunningScenario) {
    start(twoGpus());
    ASSERT_EQ(sim.apply("fault op=GetBusId status=-3 gpu=1\nmissing op=I2CRead"), 0);
    std::uint32_t bus = 0;
    EXPECT_EQ(busId(gpus[0], &bus), 0);
    EXPECT_EQ(busId(gpus[1], &bus), -3);
    EXPECT_EQ(sim.query(nv::NvapiId::I2cRead), nullptr);

    // Only fault lines; a bad line adds nothing.
    EXPECT_EQ(sim.apply("fault op=GetThermalSettings status=-1\ngpu bus=4"), 2);
    EXPECT_THAT(sim.lastError(), HasSubstr("line 2"));
    EXPECT_EQ(sim.gpuCount(), 2);
    nv::NvThermalRecord th{};
    th.version = nv::kThermalVersion;
    EXPECT_EQ(thermal(gpus[0], 0, &th), 0);

    // Reset goes back to the loaded scenario.
    sim.reset();
    ASSERT_EQ(initialize(), 0);
    EXPECT_EQ(busId(gpus[1], &bus), 0);
    EXPECT_NE(sim.query(nv::NvapiId::I2cRead), nullptr);
}

// --- Call log ---

TEST_F(NvSim, LogRecordsEachCallWithItsArguments) {
    start(twoGpus(), false);
    sim.clearLog();
    auto init = sim.op<nv::NvInitializeFn>(nv::NvapiId::Initialize);
    ASSERT_EQ(init(), 0);
    std::uint32_t count = 0;
    ASSERT_EQ(enumerate(gpus, &count), 0);
    std::uint32_t bus = 0;
    busId(gpus[0], &bus);
    std::unique_ptr<nv::NvPerfClocksRecord> holder;
    nv::NvPerfClocksRecord* rec = newPerfRecord(holder);
    getClocks(gpus[0], 1, rec);
    rec->entries[0].frequencyKHz = 700000;
    rec->entries[0].flags = nv::kClockEntryApply;
    rec->entries[1].flags = nv::kClockEntryApply;
    setClocks(gpus[0], 1, rec);
    nv::NvThermalRecord th{};
    th.version = nv::kThermalVersion;
    thermal(gpus[1], 0, &th);
    coolers(gpus[0]);
    nv::NvCoolerLevelsRecord levels{};
    levels.version = nv::kCoolerLevelsVersion;
    levels.coolers[1] = {60, 1};
    setCooler(gpus[0], 1, &levels);
    std::uint32_t index = 1;
    restoreCooler(gpus[0], &index, 1);
    std::uint8_t byte = 0xFF;
    readByte(gpus[0], 0x3E, 0x20, byte);
    writeByte(gpus[0], 0x3E, 0x15, 0xFF);
    readByte(gpus[0], 0x6E, 0x10, byte);

    EXPECT_THAT(sim.log(), ElementsAre("QueryInterface 0x0150E828 -> found",
                                       "Initialize -> 0",
                                       "EnumPhysicalGPUs -> 0 count=2",
                                       "GetBusId gpu=0 -> 0 bus=3",
                                       "GetPerfClocks gpu=0 sel=1 -> 0",
                                       "SetPerfClocks gpu=0 sel=1 flagged=[0:700000,4:800000] -> 0",
                                       "GetThermalSettings gpu=1 sensor=0 -> 0",
                                       "GetCoolerSettings gpu=0 sel=7 -> 0",
                                       "SetCoolerLevels gpu=0 index=1 rows=[0/0,60/1,0/0] -> 0",
                                       "RestoreCoolerSettings gpu=0 indices=[1] -> 0",
                                       "I2CRead gpu=0 addr=0x3E reg=0x20 -> 0 data=0x95",
                                       "I2CWrite gpu=0 addr=0x3E reg=0x15 data=0xFF -> 0",
                                       "I2CRead gpu=0 addr=0x6E reg=0x10 -> -1"));
}

TEST_F(NvSim, ScenarioErrorsSurface) {
    struct Case {
        const char* text;
        int line;
        const char* message;
    };
    const Case cases[] = {
        {"gpu bus=1\nclock sel=0 domain=0", 2, "needs freq="},
        {"clock sel=0 domain=0 freq=1", 1, "before the first gpu"},
        {"gpu bus=1 colour=red", 1, "unknown key 'colour'"},
        {"gpu bus=1 bus=2", 1, "given twice"},
        {"gpu bus=-1", 1, "bus=-1"},
        {"gpu bus=4294967296", 1, "bus=4294967296"},
        {"gpu bus=12abc", 1, "bus=12abc"},
        {"gpu bus", 1, "key=value"},
        {"gpus bus=1", 1, "unknown directive 'gpus'"},
        {"gpu\ni2c addr=0x100 reg=0 value=0", 2, "addr=0x100"},
        {"gpu\ncooler\ncooler\ncooler\ncooler", 5, "more than 3 coolers"},
        {"gpu\nthermal temp=1\nthermal temp=2\nthermal temp=3\nthermal temp=4", 5, "more than 3"},
        {"gpu\ncooler min=50 max=40", 2, "min above max"},
        {"gpu\nclock sel=0 domain=0 freq=5 min=9 max=1", 2, "min above max"},
        {"gpu\ndevice addr=0x3E type=fancy", 2, "unknown device type 'fancy'"},
        {"gpu\ni2c addr=0x3E reg=1 value=1\ndevice addr=0x3E", 3, "already"},
        {"fault op=GetTemperature status=-1", 1, "unknown op 'GetTemperature'"},
        {"fault op=EnumPhysicalGPUs status=-1 gpu=0", 1, "takes no GPU"},
        {"fault op=I2CRead", 1, "needs status="},
        {"init status=x", 1, "status=x"},
        {"missing op=nothing", 1, "unknown op"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(sim.load(c.text), c.line);
        EXPECT_THAT(sim.lastError(), HasSubstr("line " + std::to_string(c.line)));
        EXPECT_THAT(sim.lastError(), HasSubstr(c.message));
    }
}

TEST_F(NvSim, BrokenScenarioMakesInitializeFail) {
    start(twoGpus());  // initialised on a good scenario first
    EXPECT_NE(sim.load("gpu bus=1\nfan speed=3\n"), 0);
    EXPECT_FALSE(sim.initialised());
    EXPECT_EQ(sim.gpuCount(), 0);
    EXPECT_EQ(initialize(), ZXSIM_NVAPI_ERROR);
    std::uint32_t count = 0;
    EXPECT_EQ(enumerate(gpus, &count), ZXSIM_NVAPI_NOT_INITIALISED);
    EXPECT_THAT(sim.log(), ElementsAre("Initialize -> -1", "EnumPhysicalGPUs -> -4"));

    // A good scenario mends it.
    ASSERT_EQ(sim.load(twoGpus()), 0);
    EXPECT_EQ(sim.lastError(), "");
    EXPECT_EQ(initialize(), 0);
}

// --- Set-up through the environment, in a fresh process ---

TEST_F(NvSim, EnvironmentNamesScenarioAndLogFile) {
    const std::string scenario = zxtest::testRoot() + "/cards.scn";
    const std::string log = zxtest::testRoot() + "/nvapi.log";
    twoGpus().writeTo(scenario);

    ProbeResult run = runProbe({{"ZXSIM_NVAPI_SCENARIO", scenario}, {"ZXSIM_NVAPI_LOG", log}});
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(run.out,
              "initialize 0\n"
              "enumerate 0 count 2\n"
              "gpu 0 bus 3 levels 3 current 1 clocks 0:300000 4:400000\n"
              "gpu 1 bus 1 levels 2 current 0 clocks 0:250000\n");
    EXPECT_EQ(run.err, "");
    EXPECT_THAT(readLogFile(log), ElementsAre("QueryInterface 0x0150E828 -> found",
                                              "QueryInterface 0xE5AC921F -> found",
                                              "QueryInterface 0x1BE0B8E5 -> found",
                                              "QueryInterface 0x1EA54A3B -> found",
                                              "Initialize -> 0",
                                              "EnumPhysicalGPUs -> 0 count=2",
                                              "GetBusId gpu=0 -> 0 bus=3",
                                              "GetPerfClocks gpu=0 sel=0 -> 0",
                                              "GetBusId gpu=1 -> 0 bus=1",
                                              "GetPerfClocks gpu=1 sel=0 -> 0"));

    // The log file is appended to, never truncated.
    ScenarioBuilder().initStatus(-1).writeTo(scenario);
    run = runProbe({{"ZXSIM_NVAPI_SCENARIO", scenario}, {"ZXSIM_NVAPI_LOG", log}});
    EXPECT_EQ(run.exitCode, 1);
    std::vector<std::string> lines = readLogFile(log);
    ASSERT_EQ(lines.size(), 15u);
    EXPECT_EQ(lines.back(), "Initialize -> -1");
}

}  // namespace
