// What the end-to-end tests do not show of the simulated NVIDIA driver: the
// scenario parser's errors and the fault injection.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "nv/nvapi_types.h"
#include "support/nvsim.h"

namespace {

namespace nv = zx::nv;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

const char* kTwoGpus = "gpu bus=3\nthermal temp=65\ngpu bus=1\nthermal temp=50\n";

class NvSimTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(sim.loaded()); }

    // A freshly loaded, initialised and enumerated driver.
    void start(const std::string& scenario) {
        ASSERT_EQ(sim.load(scenario), 0) << sim.lastError();
        sim.reset();
        ASSERT_EQ(initialize(), 0);
        std::uint32_t count = 0;
        ASSERT_EQ(sim.op<nv::NvEnumPhysicalGpusFn>(nv::NvapiId::EnumPhysicalGpus)(gpus, &count), 0);
        sim.clearLog();
    }
    nv::NvStatus initialize() { return sim.op<nv::NvInitializeFn>(nv::NvapiId::Initialize)(); }
    nv::NvStatus busId(unsigned gpu) {
        std::uint32_t bus = 0;
        return sim.op<nv::NvGetBusIdFn>(nv::NvapiId::GetBusId)(gpus[gpu], &bus);
    }
    // Sensor 0 into a fresh record.
    nv::NvStatus thermal(unsigned gpu, nv::NvThermalRecord& rec) {
        rec = nv::NvThermalRecord{};
        rec.version = nv::kThermalVersion;
        return sim.op<nv::NvGetThermalSettingsFn>(nv::NvapiId::GetThermalSettings)(gpus[gpu], 0, &rec);
    }

    zxtest::nvsim::Simulator sim;
    nv::NvGpuHandle gpus[nv::kMaxPhysicalGpus] = {};
};

TEST_F(NvSimTest, ABadScenarioNamesItsLineAndLeavesABrokenDriver) {
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
        {"gpu bus", 1, "key=value"},
        {"gpus bus=1", 1, "unknown directive 'gpus'"},
        {"gpu\ni2c addr=0x100 reg=0 value=0", 2, "addr=0x100"},
        {"gpu\ncooler\ncooler\ncooler\ncooler", 5, "more than 3 coolers"},
        {"gpu\ncooler min=50 max=40", 2, "min above max"},
        {"gpu\ndevice addr=0x3E type=fancy", 2, "unknown device type 'fancy'"},
        {"gpu\ni2c addr=0x3E reg=1 value=1\ndevice addr=0x3E", 3, "already"},
        {"fault op=GetTemperature status=-1", 1, "unknown op 'GetTemperature'"},
        {"fault op=EnumPhysicalGPUs status=-1 gpu=0", 1, "takes no GPU"},
        {"fault op=I2CRead", 1, "needs status="},
    };
    start(kTwoGpus);  // initialised on a good scenario first
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(sim.load(c.text), c.line);
        EXPECT_THAT(sim.lastError(), HasSubstr("line " + std::to_string(c.line)));
        EXPECT_THAT(sim.lastError(), HasSubstr(c.message));
    }
    EXPECT_FALSE(sim.initialised());
    EXPECT_EQ(sim.gpuCount(), 0);
    sim.clearLog();
    EXPECT_EQ(initialize(), ZXSIM_NVAPI_ERROR);
    std::uint32_t count = 0;
    EXPECT_EQ(sim.op<nv::NvEnumPhysicalGpusFn>(nv::NvapiId::EnumPhysicalGpus)(gpus, &count),
              ZXSIM_NVAPI_NOT_INITIALISED);

    // A good scenario mends it.
    ASSERT_EQ(sim.load(kTwoGpus), 0);
    EXPECT_EQ(sim.lastError(), "");
    EXPECT_EQ(initialize(), 0);
}

TEST_F(NvSimTest, AFaultAnswersItsStatusAndTouchesNothing) {
    start(std::string(kTwoGpus) + "fault op=GetThermalSettings status=-1 gpu=0\n"
                                  "fault op=GetThermalSettings status=0 gpu=1\n");
    nv::NvThermalRecord rec;
    EXPECT_EQ(thermal(0, rec), -1);
    EXPECT_EQ(rec.sensorCount, 0u);
    // Status 0 claims success and still does nothing.
    EXPECT_EQ(thermal(1, rec), 0);
    EXPECT_EQ(rec.sensorCount, 0u);
    EXPECT_EQ(busId(0), 0);
}

TEST_F(NvSimTest, AFaultCountsTheCallsOfItsGpuThenAnswersSomeTimes) {
    start(std::string(kTwoGpus) + "fault op=GetBusId status=-5 gpu=0 after=2\n"
                                  "fault op=GetThermalSettings status=-1 after=1 times=2\n");
    std::vector<nv::NvStatus> buses;
    for (const unsigned gpu : {0, 1, 0, 0, 0, 1}) buses.push_back(busId(gpu));
    EXPECT_THAT(buses, ElementsAre(0, 0, 0, -5, -5, 0));

    nv::NvThermalRecord rec;
    std::vector<nv::NvStatus> reads;
    for (const unsigned gpu : {0, 1, 0, 1, 0}) reads.push_back(thermal(gpu, rec));
    EXPECT_THAT(reads, ElementsAre(0, -1, -1, 0, 0));

    // A reset starts the counts again.
    sim.reset();
    ASSERT_EQ(initialize(), 0);
    EXPECT_EQ(busId(0), 0);
}

}  // namespace
