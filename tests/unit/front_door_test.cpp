// Every dispatched export forwards its arguments unchanged, in order, to the
// chosen backend and hands back the backend's answer; getters clear their
// outputs before the backend runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "api/backend.h"
#include "api/state.h"
#include "zxdisplay.h"

namespace {

using zx::LevelValues;
using zx::RangeInfo;
using zx::VgaInfoDescription;

class RecordingBackend final : public zx::Backend {
public:
    std::vector<std::string> calls;
    zx::StatusCode answer = zx::StatusCode::Ok;
    bool outputsWereClear = true;

    zx::StatusCode getControlMode(std::uint32_t* flags) override {
        outputsWereClear &= *flags == 0;
        calls.push_back(std::string("getControlMode(") + "*" + ")");
        return answer;
    }
    zx::StatusCode getGpuCount(std::uint32_t* count) override {
        outputsWereClear &= *count == 0;
        calls.push_back(std::string("getGpuCount(") + "*" + ")");
        return answer;
    }
    zx::StatusCode getCurrentPerformanceLevel(std::uint32_t gpu, std::uint32_t* level) override {
        outputsWereClear &= *level == 0;
        calls.push_back(std::string("getCurrentPerformanceLevel(") + std::to_string(gpu) + "," + "*" + ")");
        return answer;
    }
    zx::StatusCode getVgaInfoDescription(std::uint32_t gpu, VgaInfoDescription* desc) override {
        outputsWereClear &= desc->count == 0 && desc->strings[9][0] == 0;
        calls.push_back(std::string("getVgaInfoDescription(") + std::to_string(gpu) + "," + "*" + ")");
        return answer;
    }
    zx::StatusCode getCurrentVoltage(std::uint32_t gpu, std::uint32_t* voltage, std::uint32_t* level) override {
        outputsWereClear &= *voltage == 0;
        outputsWereClear &= *level == 0;
        calls.push_back(std::string("getCurrentVoltage(") + std::to_string(gpu) + "," + "*" + "," + "*" + ")");
        return answer;
    }
    zx::StatusCode getPerformanceLevelVoltages(std::uint32_t gpu, LevelValues* values) override {
        outputsWereClear &= values->count == 0 && values->values[3] == 0;
        calls.push_back(std::string("getPerformanceLevelVoltages(") + std::to_string(gpu) + "," + "*" + ")");
        return answer;
    }
    zx::StatusCode getPerformanceDefaultVoltages(std::uint32_t gpu, LevelValues* values) override {
        outputsWereClear &= values->count == 0 && values->values[3] == 0;
        calls.push_back(std::string("getPerformanceDefaultVoltages(") + std::to_string(gpu) + "," + "*" + ")");
        return answer;
    }
    zx::StatusCode getVoltageInfo(std::uint32_t gpu, RangeInfo* range) override {
        outputsWereClear &= range->maximum == 0 && range->minimum == 0 && range->step == 0;
        calls.push_back(std::string("getVoltageInfo(") + std::to_string(gpu) + "," + "*" + ")");
        return answer;
    }
    zx::StatusCode get2DDefaultVoltage(std::uint32_t gpu, std::uint32_t* voltage) override {
        outputsWereClear &= *voltage == 0;
        calls.push_back(std::string("get2DDefaultVoltage(") + std::to_string(gpu) + "," + "*" + ")");
        return answer;
    }
    zx::StatusCode setCurrentVoltageLevel(std::uint32_t gpu, std::uint32_t voltage) override {
        calls.push_back(std::string("setCurrentVoltageLevel(") + std::to_string(gpu) + "," + std::to_string(voltage) + ")");
        return answer;
    }
    zx::StatusCode setPerformanceVoltageLevel(std::uint32_t gpu, std::uint32_t level, std::uint32_t voltage) override {
        calls.push_back(std::string("setPerformanceVoltageLevel(") + std::to_string(gpu) + "," + std::to_string(level) + "," + std::to_string(voltage) + ")");
        return answer;
    }
    zx::StatusCode setVoltageDefault(std::uint32_t gpu) override {
        calls.push_back(std::string("setVoltageDefault(") + std::to_string(gpu) + ")");
        return answer;
    }
    zx::StatusCode getCurrentMemoryVoltageLevel(std::uint32_t gpu, std::uint32_t* level) override {
        outputsWereClear &= *level == 0;
        calls.push_back(std::string("getCurrentMemoryVoltageLevel(") + std::to_string(gpu) + "," + "*" + ")");
        return answer;
    }
    zx::StatusCode getMemoryVoltageInfo(std::uint32_t gpu, RangeInfo* range) override {
        outputsWereClear &= range->maximum == 0 && range->minimum == 0 && range->step == 0;
        calls.push_back(std::string("getMemoryVoltageInfo(") + std::to_string(gpu) + "," + "*" + ")");
        return answer;
    }
    zx::StatusCode getMemoryVoltageDefault(std::uint32_t gpu, std::uint32_t* level) override {
        outputsWereClear &= *level == 0;
        calls.push_back(std::string("getMemoryVoltageDefault(") + std::to_string(gpu) + "," + "*" + ")");
        return answer;
    }
    zx::StatusCode setCurrentMemoryVoltageLevel(std::uint32_t gpu, std::uint32_t level) override {
        calls.push_back(std::string("setCurrentMemoryVoltageLevel(") + std::to_string(gpu) + "," + std::to_string(level) + ")");
        return answer;
    }
    zx::StatusCode setMemoryVoltageDefault(std::uint32_t gpu) override {
        calls.push_back(std::string("setMemoryVoltageDefault(") + std::to_string(gpu) + ")");
        return answer;
    }
    zx::StatusCode getPerformanceLevelGpuClocks(std::uint32_t gpu, LevelValues* clocks) override {
        outputsWereClear &= clocks->count == 0 && clocks->values[3] == 0;
        calls.push_back(std::string("getPerformanceLevelGpuClocks(") + std::to_string(gpu) + "," + "*" + ")");
        return answer;
    }
    zx::StatusCode getGpuClockInfo(std::uint32_t gpu, RangeInfo* range) override {
        outputsWereClear &= range->maximum == 0 && range->minimum == 0 && range->step == 0;
        calls.push_back(std::string("getGpuClockInfo(") + std::to_string(gpu) + "," + "*" + ")");
        return answer;
    }
    zx::StatusCode getGpuClockInfoEx(std::uint32_t gpu, std::uint32_t level, RangeInfo* range) override {
        outputsWereClear &= range->maximum == 0 && range->minimum == 0 && range->step == 0;
        calls.push_back(std::string("getGpuClockInfoEx(") + std::to_string(gpu) + "," + std::to_string(level) + "," + "*" + ")");
        return answer;
    }
    zx::StatusCode getPerformanceDefaultGpuClocks(std::uint32_t gpu, LevelValues* clocks) override {
        outputsWereClear &= clocks->count == 0 && clocks->values[3] == 0;
        calls.push_back(std::string("getPerformanceDefaultGpuClocks(") + std::to_string(gpu) + "," + "*" + ")");
        return answer;
    }
    zx::StatusCode setPerformanceLevelGpuClock(std::uint32_t gpu, std::uint32_t level, std::uint32_t mhz) override {
        calls.push_back(std::string("setPerformanceLevelGpuClock(") + std::to_string(gpu) + "," + std::to_string(level) + "," + std::to_string(mhz) + ")");
        return answer;
    }
    zx::StatusCode setGpuClockDefault(std::uint32_t gpu) override {
        calls.push_back(std::string("setGpuClockDefault(") + std::to_string(gpu) + ")");
        return answer;
    }
    zx::StatusCode getPerformanceLevelMemoryClocks(std::uint32_t gpu, LevelValues* clocks) override {
        outputsWereClear &= clocks->count == 0 && clocks->values[3] == 0;
        calls.push_back(std::string("getPerformanceLevelMemoryClocks(") + std::to_string(gpu) + "," + "*" + ")");
        return answer;
    }
    zx::StatusCode getMemoryClockInfo(std::uint32_t gpu, RangeInfo* range) override {
        outputsWereClear &= range->maximum == 0 && range->minimum == 0 && range->step == 0;
        calls.push_back(std::string("getMemoryClockInfo(") + std::to_string(gpu) + "," + "*" + ")");
        return answer;
    }
    zx::StatusCode getMemoryClockInfoEx(std::uint32_t gpu, std::uint32_t level, RangeInfo* range) override {
        outputsWereClear &= range->maximum == 0 && range->minimum == 0 && range->step == 0;
        calls.push_back(std::string("getMemoryClockInfoEx(") + std::to_string(gpu) + "," + std::to_string(level) + "," + "*" + ")");
        return answer;
    }
    zx::StatusCode getPerformanceDefaultMemoryClocks(std::uint32_t gpu, LevelValues* clocks) override {
        outputsWereClear &= clocks->count == 0 && clocks->values[3] == 0;
        calls.push_back(std::string("getPerformanceDefaultMemoryClocks(") + std::to_string(gpu) + "," + "*" + ")");
        return answer;
    }
    zx::StatusCode setPerformanceLevelMemoryClock(std::uint32_t gpu, std::uint32_t level, std::uint32_t mhz) override {
        calls.push_back(std::string("setPerformanceLevelMemoryClock(") + std::to_string(gpu) + "," + std::to_string(level) + "," + std::to_string(mhz) + ")");
        return answer;
    }
    zx::StatusCode setMemoryClockDefault(std::uint32_t gpu) override {
        calls.push_back(std::string("setMemoryClockDefault(") + std::to_string(gpu) + ")");
        return answer;
    }
    zx::StatusCode getPerformanceLevelShaderClocks(std::uint32_t gpu, LevelValues* clocks) override {
        outputsWereClear &= clocks->count == 0 && clocks->values[3] == 0;
        calls.push_back(std::string("getPerformanceLevelShaderClocks(") + std::to_string(gpu) + "," + "*" + ")");
        return answer;
    }
    zx::StatusCode getShaderClockInfo(std::uint32_t gpu, RangeInfo* range) override {
        outputsWereClear &= range->maximum == 0 && range->minimum == 0 && range->step == 0;
        calls.push_back(std::string("getShaderClockInfo(") + std::to_string(gpu) + "," + "*" + ")");
        return answer;
    }
    zx::StatusCode getShaderClockInfoEx(std::uint32_t gpu, std::uint32_t level, RangeInfo* range) override {
        outputsWereClear &= range->maximum == 0 && range->minimum == 0 && range->step == 0;
        calls.push_back(std::string("getShaderClockInfoEx(") + std::to_string(gpu) + "," + std::to_string(level) + "," + "*" + ")");
        return answer;
    }
    zx::StatusCode getPerformanceDefaultShaderClocks(std::uint32_t gpu, LevelValues* clocks) override {
        outputsWereClear &= clocks->count == 0 && clocks->values[3] == 0;
        calls.push_back(std::string("getPerformanceDefaultShaderClocks(") + std::to_string(gpu) + "," + "*" + ")");
        return answer;
    }
    zx::StatusCode setPerformanceLevelShaderClock(std::uint32_t gpu, std::uint32_t level, std::uint32_t mhz) override {
        calls.push_back(std::string("setPerformanceLevelShaderClock(") + std::to_string(gpu) + "," + std::to_string(level) + "," + std::to_string(mhz) + ")");
        return answer;
    }
    zx::StatusCode setShaderClockDefault(std::uint32_t gpu) override {
        calls.push_back(std::string("setShaderClockDefault(") + std::to_string(gpu) + ")");
        return answer;
    }
    zx::StatusCode getCurrentPwmClockLevel(std::uint32_t gpu, std::uint32_t* level) override {
        outputsWereClear &= *level == 0;
        calls.push_back(std::string("getCurrentPwmClockLevel(") + std::to_string(gpu) + "," + "*" + ")");
        return answer;
    }
    zx::StatusCode getPwmClockInfo(std::uint32_t gpu, RangeInfo* range) override {
        outputsWereClear &= range->maximum == 0 && range->minimum == 0 && range->step == 0;
        calls.push_back(std::string("getPwmClockInfo(") + std::to_string(gpu) + "," + "*" + ")");
        return answer;
    }
    zx::StatusCode getPwmClockDefault(std::uint32_t gpu, std::uint32_t* level) override {
        outputsWereClear &= *level == 0;
        calls.push_back(std::string("getPwmClockDefault(") + std::to_string(gpu) + "," + "*" + ")");
        return answer;
    }
    zx::StatusCode setCurrentPwmClockLevel(std::uint32_t gpu, std::uint32_t level) override {
        calls.push_back(std::string("setCurrentPwmClockLevel(") + std::to_string(gpu) + "," + std::to_string(level) + ")");
        return answer;
    }
    zx::StatusCode setPwmClockDefault(std::uint32_t gpu) override {
        calls.push_back(std::string("setPwmClockDefault(") + std::to_string(gpu) + ")");
        return answer;
    }
    zx::StatusCode getTemperature(std::uint32_t gpu, std::uint32_t* celsius) override {
        outputsWereClear &= *celsius == 0;
        calls.push_back(std::string("getTemperature(") + std::to_string(gpu) + "," + "*" + ")");
        return answer;
    }
    zx::StatusCode getUsage(std::uint32_t gpu, std::uint32_t* percent) override {
        outputsWereClear &= *percent == 0;
        calls.push_back(std::string("getUsage(") + std::to_string(gpu) + "," + "*" + ")");
        return answer;
    }
    zx::StatusCode getDacLevel(std::uint32_t gpu, std::uint32_t* level) override {
        outputsWereClear &= *level == 0;
        calls.push_back(std::string("getDacLevel(") + std::to_string(gpu) + "," + "*" + ")");
        return answer;
    }
    zx::StatusCode setDacLevel(std::uint32_t gpu, std::uint32_t level) override {
        calls.push_back(std::string("setDacLevel(") + std::to_string(gpu) + "," + std::to_string(level) + ")");
        return answer;
    }
    zx::StatusCode getFanSpeedInfo(std::uint32_t gpu, std::uint32_t fan, RangeInfo* range, std::uint32_t reserved) override {
        outputsWereClear &= range->maximum == 0 && range->minimum == 0 && range->step == 0;
        calls.push_back(std::string("getFanSpeedInfo(") + std::to_string(gpu) + "," + std::to_string(fan) + "," + "*" + "," + std::to_string(reserved) + ")");
        return answer;
    }
    zx::StatusCode getFanSpeed(std::uint32_t gpu, std::uint32_t fan, std::uint32_t* percent, std::uint32_t reserved) override {
        outputsWereClear &= *percent == 0;
        calls.push_back(std::string("getFanSpeed(") + std::to_string(gpu) + "," + std::to_string(fan) + "," + "*" + "," + std::to_string(reserved) + ")");
        return answer;
    }
    zx::StatusCode setFanSpeed(std::uint32_t gpu, std::uint32_t fan, std::uint32_t percent, std::uint32_t reserved) override {
        calls.push_back(std::string("setFanSpeed(") + std::to_string(gpu) + "," + std::to_string(fan) + "," + std::to_string(percent) + "," + std::to_string(reserved) + ")");
        return answer;
    }
    zx::StatusCode setFanSpeedDefault(std::uint32_t gpu, std::uint32_t fan, std::uint32_t reserved) override {
        calls.push_back(std::string("setFanSpeedDefault(") + std::to_string(gpu) + "," + std::to_string(fan) + "," + std::to_string(reserved) + ")");
        return answer;
    }
};

struct ExportCall {
    const char* name;
    bool setter;
    std::function<ZXStatus()> call;
    const char* expected;
};

class ForwardingTest : public ::testing::Test {
protected:
    void SetUp() override { zx::overrideBackendsForTesting(&ati, &nv); }
    void TearDown() override {
        zx::overrideBackendsForTesting(nullptr, nullptr);
        zx::state().vendorKind = zx::VendorKind::None;
    }

    std::vector<ExportCall> allCalls() {
        return {
    {"ZXGetControlMode", false, [&] { return ZXGetControlMode(&w); }, "getControlMode(*)"},
    {"ZXGetGpuCount", false, [&] { return ZXGetGpuCount(&w); }, "getGpuCount(*)"},
    {"ZXGetCurrentPerformanceLevel", false, [&] { return ZXGetCurrentPerformanceLevel(11, &w); }, "getCurrentPerformanceLevel(11,*)"},
    {"ZXGetVGAInfoDescription", false, [&] { return ZXGetVGAInfoDescription(11, &desc); }, "getVgaInfoDescription(11,*)"},
    {"ZXGetCurrentVoltage", false, [&] { return ZXGetCurrentVoltage(11, &w, &w2); }, "getCurrentVoltage(11,*,*)"},
    {"ZXGetPerformanceLevelVoltages", false, [&] { return ZXGetPerformanceLevelVoltages(11, &levels); }, "getPerformanceLevelVoltages(11,*)"},
    {"ZXGetPerformanceDefaultVoltages", false, [&] { return ZXGetPerformanceDefaultVoltages(11, &levels); }, "getPerformanceDefaultVoltages(11,*)"},
    {"ZXGetVoltageInfo", false, [&] { return ZXGetVoltageInfo(11, &range); }, "getVoltageInfo(11,*)"},
    {"ZXGet2DDefaultVoltage", false, [&] { return ZXGet2DDefaultVoltage(11, &w); }, "get2DDefaultVoltage(11,*)"},
    {"ZXSetCurrentVoltageLevel", true, [&] { return ZXSetCurrentVoltageLevel(11, 22); }, "setCurrentVoltageLevel(11,22)"},
    {"ZXSetPerformanceVoltageLevel", true, [&] { return ZXSetPerformanceVoltageLevel(11, 22, 33); }, "setPerformanceVoltageLevel(11,22,33)"},
    {"ZXSetVoltageDefault", true, [&] { return ZXSetVoltageDefault(11); }, "setVoltageDefault(11)"},
    {"ZXGetCurrentMemoryVoltageLevel", false, [&] { return ZXGetCurrentMemoryVoltageLevel(11, &w); }, "getCurrentMemoryVoltageLevel(11,*)"},
    {"ZXGetMemoryVoltageInfo", false, [&] { return ZXGetMemoryVoltageInfo(11, &range); }, "getMemoryVoltageInfo(11,*)"},
    {"ZXGetMemoryVoltageDefault", false, [&] { return ZXGetMemoryVoltageDefault(11, &w); }, "getMemoryVoltageDefault(11,*)"},
    {"ZXSetCurrentMemoryVoltageLevel", true, [&] { return ZXSetCurrentMemoryVoltageLevel(11, 22); }, "setCurrentMemoryVoltageLevel(11,22)"},
    {"ZXSetMemoryVoltageDefault", true, [&] { return ZXSetMemoryVoltageDefault(11); }, "setMemoryVoltageDefault(11)"},
    {"ZXGetPerformanceLevelGPUClocks", false, [&] { return ZXGetPerformanceLevelGPUClocks(11, &levels); }, "getPerformanceLevelGpuClocks(11,*)"},
    {"ZXGetGPUClockInfo", false, [&] { return ZXGetGPUClockInfo(11, &range); }, "getGpuClockInfo(11,*)"},
    {"ZXGetGPUClockInfoEx", false, [&] { return ZXGetGPUClockInfoEx(11, 22, &range); }, "getGpuClockInfoEx(11,22,*)"},
    {"ZXGetPerformanceDefaultGPUClocks", false, [&] { return ZXGetPerformanceDefaultGPUClocks(11, &levels); }, "getPerformanceDefaultGpuClocks(11,*)"},
    {"ZXSetPerformanceLevelGPUClock", true, [&] { return ZXSetPerformanceLevelGPUClock(11, 22, 33); }, "setPerformanceLevelGpuClock(11,22,33)"},
    {"ZXSetGPUClockDefault", true, [&] { return ZXSetGPUClockDefault(11); }, "setGpuClockDefault(11)"},
    {"ZXGetPerformanceLevelMemoryClocks", false, [&] { return ZXGetPerformanceLevelMemoryClocks(11, &levels); }, "getPerformanceLevelMemoryClocks(11,*)"},
    {"ZXGetMemoryClockInfo", false, [&] { return ZXGetMemoryClockInfo(11, &range); }, "getMemoryClockInfo(11,*)"},
    {"ZXGetMemoryClockInfoEx", false, [&] { return ZXGetMemoryClockInfoEx(11, 22, &range); }, "getMemoryClockInfoEx(11,22,*)"},
    {"ZXGetPerformanceDefaultMemoryClocks", false, [&] { return ZXGetPerformanceDefaultMemoryClocks(11, &levels); }, "getPerformanceDefaultMemoryClocks(11,*)"},
    {"ZXSetPerformanceLevelMemoryClock", true, [&] { return ZXSetPerformanceLevelMemoryClock(11, 22, 33); }, "setPerformanceLevelMemoryClock(11,22,33)"},
    {"ZXSetMemoryClockDefault", true, [&] { return ZXSetMemoryClockDefault(11); }, "setMemoryClockDefault(11)"},
    {"ZXGetPerformanceLevelShaderClocks", false, [&] { return ZXGetPerformanceLevelShaderClocks(11, &levels); }, "getPerformanceLevelShaderClocks(11,*)"},
    {"ZXGetShaderClockInfo", false, [&] { return ZXGetShaderClockInfo(11, &range); }, "getShaderClockInfo(11,*)"},
    {"ZXGetShaderClockInfoEx", false, [&] { return ZXGetShaderClockInfoEx(11, 22, &range); }, "getShaderClockInfoEx(11,22,*)"},
    {"ZXGetPerformanceDefaultShaderClocks", false, [&] { return ZXGetPerformanceDefaultShaderClocks(11, &levels); }, "getPerformanceDefaultShaderClocks(11,*)"},
    {"ZXSetPerformanceLevelShaderClock", true, [&] { return ZXSetPerformanceLevelShaderClock(11, 22, 33); }, "setPerformanceLevelShaderClock(11,22,33)"},
    {"ZXSetShaderClockDefault", true, [&] { return ZXSetShaderClockDefault(11); }, "setShaderClockDefault(11)"},
    {"ZXGetCurrentPWMClockLevel", false, [&] { return ZXGetCurrentPWMClockLevel(11, &w); }, "getCurrentPwmClockLevel(11,*)"},
    {"ZXGetPWMClockInfo", false, [&] { return ZXGetPWMClockInfo(11, &range); }, "getPwmClockInfo(11,*)"},
    {"ZXGetPWMClockDefault", false, [&] { return ZXGetPWMClockDefault(11, &w); }, "getPwmClockDefault(11,*)"},
    {"ZXSetCurrentPWMClockLevel", true, [&] { return ZXSetCurrentPWMClockLevel(11, 22); }, "setCurrentPwmClockLevel(11,22)"},
    {"ZXSetPWMClockDefault", true, [&] { return ZXSetPWMClockDefault(11); }, "setPwmClockDefault(11)"},
    {"ZXGetTemperature", false, [&] { return ZXGetTemperature(11, &w); }, "getTemperature(11,*)"},
    {"ZXGetUsage", false, [&] { return ZXGetUsage(11, &w); }, "getUsage(11,*)"},
    {"ZXGetDACLevel", false, [&] { return ZXGetDACLevel(11, &w); }, "getDacLevel(11,*)"},
    {"ZXSetDACLevel", true, [&] { return ZXSetDACLevel(11, 22); }, "setDacLevel(11,22)"},
    {"ZXGetFanSpeedInfo", false, [&] { return ZXGetFanSpeedInfo(11, 22, &range, 33); }, "getFanSpeedInfo(11,22,*,33)"},
    {"ZXGetFanSpeed", false, [&] { return ZXGetFanSpeed(11, 22, &w, 33); }, "getFanSpeed(11,22,*,33)"},
    {"ZXSetFanSpeed", true, [&] { return ZXSetFanSpeed(11, 22, 33, 44); }, "setFanSpeed(11,22,33,44)"},
    {"ZXSetFanSpeedDefault", true, [&] { return ZXSetFanSpeedDefault(11, 22, 33); }, "setFanSpeedDefault(11,22,33)"},
        };
    }

    RecordingBackend ati;
    RecordingBackend nv;
    std::uint32_t w = 0xAAAAAAAA;
    std::uint32_t w2 = 0xAAAAAAAA;
    ZXRangeInfo range{0xAAAAAAAA, 0xAAAAAAAA, 0xAAAAAAAA};
    ZXLevelValues levels{0xAAAAAAAA, {0xAAAAAAAA, 0xAAAAAAAA, 0xAAAAAAAA, 0xAAAAAAAA}};
    ZXVgaInfoDescription desc{};
};

TEST_F(ForwardingTest, EveryExportReachesTheChosenBackendWithItsArgumentsInOrder) {
    struct Case {
        zx::VendorKind kind;
        RecordingBackend* target;
        RecordingBackend* other;
    };
    // Kind 1 is ATI; every other non-zero kind is served by the NVIDIA backend.
    for (const Case c : {Case{zx::VendorKind::Ati, &ati, &nv}, Case{zx::VendorKind::Nvidia, &nv, &ati},
                          Case{static_cast<zx::VendorKind>(7), &nv, &ati}}) {
        zx::state().vendorKind = c.kind;
        const auto calls = allCalls();
        ASSERT_EQ(calls.size(), 48u);
        for (const auto& e : calls) {
            SCOPED_TRACE(e.name);
            c.target->calls.clear();
            c.target->answer = zx::StatusCode::NotSupported;
            std::memset(&desc, 0xAA, sizeof desc);
            EXPECT_EQ(e.call(), ZX_STATUS_NOT_SUPPORTED);
            ASSERT_EQ(c.target->calls.size(), 1u);
            EXPECT_EQ(c.target->calls[0], e.expected);
            EXPECT_TRUE(c.other->calls.empty());
        }
        EXPECT_TRUE(c.target->outputsWereClear);
        c.target->calls.clear();
    }
}

TEST_F(ForwardingTest, BackendAnswersPassThroughUnchanged) {
    zx::state().vendorKind = zx::VendorKind::Nvidia;
    for (auto answer : {zx::StatusCode::Ok, zx::StatusCode::Failed, zx::StatusCode::NotSupported}) {
        nv.answer = answer;
        for (const auto& e : allCalls()) {
            SCOPED_TRACE(e.name);
            EXPECT_EQ(e.call(), static_cast<ZXStatus>(answer));
        }
    }
}

TEST_F(ForwardingTest, BeforeStartUpEveryExportAnswersNotInitialisedWithExactlyItsOutputsCleared) {
    for (const auto& e : allCalls()) {
        SCOPED_TRACE(e.name);
        w = w2 = 0xAAAAAAAA;
        std::memset(&range, 0xAA, sizeof range);
        std::memset(&levels, 0xAA, sizeof levels);
        std::memset(&desc, 0xAA, sizeof desc);
        EXPECT_EQ(e.call(), ZX_STATUS_NOT_INITIALISED);
        if (e.setter) {
            continue;
        }
        const std::string expected = e.expected;
        const auto outputs = std::count(expected.begin(), expected.end(), '*');
        if (expected.find("ClockInfo") != std::string::npos || expected.find("Info(") != std::string::npos) {
            EXPECT_EQ(range.maximum, 0u);
            EXPECT_EQ(range.minimum, 0u);
            EXPECT_EQ(range.step, 0u);
        } else if (expected.find("Clocks(") != std::string::npos || expected.find("Voltages(") != std::string::npos) {
            EXPECT_EQ(levels.count, 0u);
            for (auto v : levels.values) EXPECT_EQ(v, 0u);
        } else if (expected.find("VgaInfo") != std::string::npos) {
            EXPECT_EQ(desc.count, 0u);
            for (const auto& text : desc.strings) {
                EXPECT_EQ(text[0], '\0');
                // Only the first byte of each string is cleared.
                EXPECT_EQ(static_cast<unsigned char>(text[1]), 0xAAu);
            }
        } else {
            EXPECT_EQ(w, 0u);
            if (outputs == 2) {
                EXPECT_EQ(w2, 0u);
            }
        }
    }
    EXPECT_TRUE(ati.calls.empty());
    EXPECT_TRUE(nv.calls.empty());
}

TEST(FrameBeforeStartUp, LibraryExportsAnswerNotInitialised) {
    std::uint32_t status = 0xAAAAAAAA;
    EXPECT_EQ(ZXGetLockLibStatus(&status), ZX_STATUS_NOT_INITIALISED);
    EXPECT_EQ(status, 0xAAAAAAAAu);  // not written
    EXPECT_EQ(ZXSetLockLibStatus(1), ZX_STATUS_NOT_INITIALISED);
    EXPECT_EQ(ZXSetLockLibStatus(0), ZX_STATUS_NOT_INITIALISED);
    EXPECT_EQ(ZXDeInitLib(), ZX_STATUS_NOT_INITIALISED);

    ZXAdapterInfoRecord info;
    std::memset(&info, 0xAA, sizeof info);
    EXPECT_EQ(ZXGetAdapterInfo(&info), ZX_STATUS_NOT_INITIALISED);
    EXPECT_EQ(info.count, 0u);
    for (auto k : info.kind) EXPECT_EQ(k, 0u);
    for (const auto& l : info.location) {
        EXPECT_EQ(l.bus, 0u);
        EXPECT_EQ(l.device, 0u);
        EXPECT_EQ(l.function, 0u);
    }
    // The string columns are not part of what is cleared.
    EXPECT_EQ(static_cast<unsigned char>(info.vendorId[0][0]), 0xAAu);
    EXPECT_EQ(static_cast<unsigned char>(info.subsystemVendorId[2][4]), 0xAAu);
}

}  // namespace
