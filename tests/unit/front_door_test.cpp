// Every dispatched export forwards its arguments unchanged, in order, to the
// chosen backend and hands back the backend's answer; getters clear exactly
// their outputs first, also while no vendor is chosen.
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
using zx::StatusCode;
using zx::VgaInfoDescription;
using U = std::uint32_t;

// Whether the parts of an output that the front doors clear are 0.
bool cleared(const U* w) { return *w == 0; }
bool cleared(const RangeInfo* r) { return r->maximum == 0 && r->minimum == 0 && r->step == 0; }
bool cleared(const LevelValues* v) {
    return v->count == 0 && std::all_of(std::begin(v->values), std::end(v->values), [](U x) { return x == 0; });
}
bool cleared(const VgaInfoDescription* d) {
    return d->count == 0 && std::all_of(std::begin(d->strings), std::end(d->strings), [](auto& s) { return s[0] == 0; });
}

// Records each call as "name(arguments)", an output as "*", and whether every
// output arrived cleared.
class RecordingBackend final : public zx::Backend {
public:
    std::vector<std::string> calls;
    StatusCode answer = StatusCode::Ok;
    bool outputsWereClear = true;

    StatusCode getControlMode(U* o) override { return rec("getControlMode", o); }
    StatusCode getGpuCount(U* o) override { return rec("getGpuCount", o); }
    StatusCode getCurrentPerformanceLevel(U g, U* o) override { return rec("getCurrentPerformanceLevel", g, o); }
    StatusCode getVgaInfoDescription(U g, VgaInfoDescription* o) override { return rec("getVgaInfoDescription", g, o); }
    StatusCode getCurrentVoltage(U g, U* o, U* o2) override { return rec("getCurrentVoltage", g, o, o2); }
    StatusCode getPerformanceLevelVoltages(U g, LevelValues* o) override { return rec("getPerformanceLevelVoltages", g, o); }
    StatusCode getPerformanceDefaultVoltages(U g, LevelValues* o) override { return rec("getPerformanceDefaultVoltages", g, o); }
    StatusCode getVoltageInfo(U g, RangeInfo* o) override { return rec("getVoltageInfo", g, o); }
    StatusCode get2DDefaultVoltage(U g, U* o) override { return rec("get2DDefaultVoltage", g, o); }
    StatusCode setCurrentVoltageLevel(U g, U a) override { return rec("setCurrentVoltageLevel", g, a); }
    StatusCode setPerformanceVoltageLevel(U g, U a, U b) override { return rec("setPerformanceVoltageLevel", g, a, b); }
    StatusCode setVoltageDefault(U g) override { return rec("setVoltageDefault", g); }
    StatusCode getCurrentMemoryVoltageLevel(U g, U* o) override { return rec("getCurrentMemoryVoltageLevel", g, o); }
    StatusCode getMemoryVoltageInfo(U g, RangeInfo* o) override { return rec("getMemoryVoltageInfo", g, o); }
    StatusCode getMemoryVoltageDefault(U g, U* o) override { return rec("getMemoryVoltageDefault", g, o); }
    StatusCode setCurrentMemoryVoltageLevel(U g, U a) override { return rec("setCurrentMemoryVoltageLevel", g, a); }
    StatusCode setMemoryVoltageDefault(U g) override { return rec("setMemoryVoltageDefault", g); }
    StatusCode getPerformanceLevelGpuClocks(U g, LevelValues* o) override { return rec("getPerformanceLevelGpuClocks", g, o); }
    StatusCode getGpuClockInfo(U g, RangeInfo* o) override { return rec("getGpuClockInfo", g, o); }
    StatusCode getGpuClockInfoEx(U g, U a, RangeInfo* o) override { return rec("getGpuClockInfoEx", g, a, o); }
    StatusCode getPerformanceDefaultGpuClocks(U g, LevelValues* o) override { return rec("getPerformanceDefaultGpuClocks", g, o); }
    StatusCode setPerformanceLevelGpuClock(U g, U a, U b) override { return rec("setPerformanceLevelGpuClock", g, a, b); }
    StatusCode setGpuClockDefault(U g) override { return rec("setGpuClockDefault", g); }
    StatusCode getPerformanceLevelMemoryClocks(U g, LevelValues* o) override { return rec("getPerformanceLevelMemoryClocks", g, o); }
    StatusCode getMemoryClockInfo(U g, RangeInfo* o) override { return rec("getMemoryClockInfo", g, o); }
    StatusCode getMemoryClockInfoEx(U g, U a, RangeInfo* o) override { return rec("getMemoryClockInfoEx", g, a, o); }
    StatusCode getPerformanceDefaultMemoryClocks(U g, LevelValues* o) override { return rec("getPerformanceDefaultMemoryClocks", g, o); }
    StatusCode setPerformanceLevelMemoryClock(U g, U a, U b) override { return rec("setPerformanceLevelMemoryClock", g, a, b); }
    StatusCode setMemoryClockDefault(U g) override { return rec("setMemoryClockDefault", g); }
    StatusCode getPerformanceLevelShaderClocks(U g, LevelValues* o) override { return rec("getPerformanceLevelShaderClocks", g, o); }
    StatusCode getShaderClockInfo(U g, RangeInfo* o) override { return rec("getShaderClockInfo", g, o); }
    StatusCode getShaderClockInfoEx(U g, U a, RangeInfo* o) override { return rec("getShaderClockInfoEx", g, a, o); }
    StatusCode getPerformanceDefaultShaderClocks(U g, LevelValues* o) override { return rec("getPerformanceDefaultShaderClocks", g, o); }
    StatusCode setPerformanceLevelShaderClock(U g, U a, U b) override { return rec("setPerformanceLevelShaderClock", g, a, b); }
    StatusCode setShaderClockDefault(U g) override { return rec("setShaderClockDefault", g); }
    StatusCode getCurrentPwmClockLevel(U g, U* o) override { return rec("getCurrentPwmClockLevel", g, o); }
    StatusCode getPwmClockInfo(U g, RangeInfo* o) override { return rec("getPwmClockInfo", g, o); }
    StatusCode getPwmClockDefault(U g, U* o) override { return rec("getPwmClockDefault", g, o); }
    StatusCode setCurrentPwmClockLevel(U g, U a) override { return rec("setCurrentPwmClockLevel", g, a); }
    StatusCode setPwmClockDefault(U g) override { return rec("setPwmClockDefault", g); }
    StatusCode getTemperature(U g, U* o) override { return rec("getTemperature", g, o); }
    StatusCode getUsage(U g, U* o) override { return rec("getUsage", g, o); }
    StatusCode getDacLevel(U g, U* o) override { return rec("getDacLevel", g, o); }
    StatusCode setDacLevel(U g, U a) override { return rec("setDacLevel", g, a); }
    StatusCode getFanSpeedInfo(U g, U a, RangeInfo* o, U b) override { return rec("getFanSpeedInfo", g, a, o, b); }
    StatusCode getFanSpeed(U g, U a, U* o, U b) override { return rec("getFanSpeed", g, a, o, b); }
    StatusCode setFanSpeed(U g, U a, U b, U c) override { return rec("setFanSpeed", g, a, b, c); }
    StatusCode setFanSpeedDefault(U g, U a, U b) override { return rec("setFanSpeedDefault", g, a, b); }

private:
    static std::string text(U value) { return std::to_string(value); }
    template <class T>
    std::string text(T* output) {
        outputsWereClear &= cleared(output);
        return "*";
    }
    template <class... Args>
    StatusCode rec(const char* name, Args... args) {
        std::string call = std::string(name) + "(";
        const char* separator = "";
        ((call += separator, call += text(args), separator = ","), ...);
        calls.push_back(call + ")");
        return answer;
    }
};

struct ExportCall {
    const char* name;
    std::function<ZXStatus()> call;
    const char* expected;  // the backend call; one "*" per output
};

class FrontDoorTest : public ::testing::Test {
protected:
    void SetUp() override { zx::overrideBackendsForTesting(&ati, &nv); }
    void TearDown() override {
        zx::overrideBackendsForTesting(nullptr, nullptr);
        zx::state().vendorKind = zx::VendorKind::None;
    }

    void fillOutputs() {
        for (void* p : {static_cast<void*>(&w), static_cast<void*>(&w2)}) std::memset(p, 0xAA, sizeof w);
        std::memset(&range, 0xAA, sizeof range);
        std::memset(&levels, 0xAA, sizeof levels);
        std::memset(&desc, 0xAA, sizeof desc);
    }
    int clearedOutputs() const { return cleared(&w) + cleared(&w2) + cleared(&range) + cleared(&levels) + cleared(&desc); }

    std::vector<ExportCall> allCalls() {
        return {
    {"ZXGetControlMode", [&] { return ZXGetControlMode(&w); }, "getControlMode(*)"},
    {"ZXGetGpuCount", [&] { return ZXGetGpuCount(&w); }, "getGpuCount(*)"},
    {"ZXGetCurrentPerformanceLevel", [&] { return ZXGetCurrentPerformanceLevel(11, &w); }, "getCurrentPerformanceLevel(11,*)"},
    {"ZXGetVGAInfoDescription", [&] { return ZXGetVGAInfoDescription(11, &desc); }, "getVgaInfoDescription(11,*)"},
    {"ZXGetCurrentVoltage", [&] { return ZXGetCurrentVoltage(11, &w, &w2); }, "getCurrentVoltage(11,*,*)"},
    {"ZXGetPerformanceLevelVoltages", [&] { return ZXGetPerformanceLevelVoltages(11, &levels); }, "getPerformanceLevelVoltages(11,*)"},
    {"ZXGetPerformanceDefaultVoltages", [&] { return ZXGetPerformanceDefaultVoltages(11, &levels); }, "getPerformanceDefaultVoltages(11,*)"},
    {"ZXGetVoltageInfo", [&] { return ZXGetVoltageInfo(11, &range); }, "getVoltageInfo(11,*)"},
    {"ZXGet2DDefaultVoltage", [&] { return ZXGet2DDefaultVoltage(11, &w); }, "get2DDefaultVoltage(11,*)"},
    {"ZXSetCurrentVoltageLevel", [&] { return ZXSetCurrentVoltageLevel(11, 22); }, "setCurrentVoltageLevel(11,22)"},
    {"ZXSetPerformanceVoltageLevel", [&] { return ZXSetPerformanceVoltageLevel(11, 22, 33); }, "setPerformanceVoltageLevel(11,22,33)"},
    {"ZXSetVoltageDefault", [&] { return ZXSetVoltageDefault(11); }, "setVoltageDefault(11)"},
    {"ZXGetCurrentMemoryVoltageLevel", [&] { return ZXGetCurrentMemoryVoltageLevel(11, &w); }, "getCurrentMemoryVoltageLevel(11,*)"},
    {"ZXGetMemoryVoltageInfo", [&] { return ZXGetMemoryVoltageInfo(11, &range); }, "getMemoryVoltageInfo(11,*)"},
    {"ZXGetMemoryVoltageDefault", [&] { return ZXGetMemoryVoltageDefault(11, &w); }, "getMemoryVoltageDefault(11,*)"},
    {"ZXSetCurrentMemoryVoltageLevel", [&] { return ZXSetCurrentMemoryVoltageLevel(11, 22); }, "setCurrentMemoryVoltageLevel(11,22)"},
    {"ZXSetMemoryVoltageDefault", [&] { return ZXSetMemoryVoltageDefault(11); }, "setMemoryVoltageDefault(11)"},
    {"ZXGetPerformanceLevelGPUClocks", [&] { return ZXGetPerformanceLevelGPUClocks(11, &levels); }, "getPerformanceLevelGpuClocks(11,*)"},
    {"ZXGetGPUClockInfo", [&] { return ZXGetGPUClockInfo(11, &range); }, "getGpuClockInfo(11,*)"},
    {"ZXGetGPUClockInfoEx", [&] { return ZXGetGPUClockInfoEx(11, 22, &range); }, "getGpuClockInfoEx(11,22,*)"},
    {"ZXGetPerformanceDefaultGPUClocks", [&] { return ZXGetPerformanceDefaultGPUClocks(11, &levels); }, "getPerformanceDefaultGpuClocks(11,*)"},
    {"ZXSetPerformanceLevelGPUClock", [&] { return ZXSetPerformanceLevelGPUClock(11, 22, 33); }, "setPerformanceLevelGpuClock(11,22,33)"},
    {"ZXSetGPUClockDefault", [&] { return ZXSetGPUClockDefault(11); }, "setGpuClockDefault(11)"},
    {"ZXGetPerformanceLevelMemoryClocks", [&] { return ZXGetPerformanceLevelMemoryClocks(11, &levels); }, "getPerformanceLevelMemoryClocks(11,*)"},
    {"ZXGetMemoryClockInfo", [&] { return ZXGetMemoryClockInfo(11, &range); }, "getMemoryClockInfo(11,*)"},
    {"ZXGetMemoryClockInfoEx", [&] { return ZXGetMemoryClockInfoEx(11, 22, &range); }, "getMemoryClockInfoEx(11,22,*)"},
    {"ZXGetPerformanceDefaultMemoryClocks", [&] { return ZXGetPerformanceDefaultMemoryClocks(11, &levels); }, "getPerformanceDefaultMemoryClocks(11,*)"},
    {"ZXSetPerformanceLevelMemoryClock", [&] { return ZXSetPerformanceLevelMemoryClock(11, 22, 33); }, "setPerformanceLevelMemoryClock(11,22,33)"},
    {"ZXSetMemoryClockDefault", [&] { return ZXSetMemoryClockDefault(11); }, "setMemoryClockDefault(11)"},
    {"ZXGetPerformanceLevelShaderClocks", [&] { return ZXGetPerformanceLevelShaderClocks(11, &levels); }, "getPerformanceLevelShaderClocks(11,*)"},
    {"ZXGetShaderClockInfo", [&] { return ZXGetShaderClockInfo(11, &range); }, "getShaderClockInfo(11,*)"},
    {"ZXGetShaderClockInfoEx", [&] { return ZXGetShaderClockInfoEx(11, 22, &range); }, "getShaderClockInfoEx(11,22,*)"},
    {"ZXGetPerformanceDefaultShaderClocks", [&] { return ZXGetPerformanceDefaultShaderClocks(11, &levels); }, "getPerformanceDefaultShaderClocks(11,*)"},
    {"ZXSetPerformanceLevelShaderClock", [&] { return ZXSetPerformanceLevelShaderClock(11, 22, 33); }, "setPerformanceLevelShaderClock(11,22,33)"},
    {"ZXSetShaderClockDefault", [&] { return ZXSetShaderClockDefault(11); }, "setShaderClockDefault(11)"},
    {"ZXGetCurrentPWMClockLevel", [&] { return ZXGetCurrentPWMClockLevel(11, &w); }, "getCurrentPwmClockLevel(11,*)"},
    {"ZXGetPWMClockInfo", [&] { return ZXGetPWMClockInfo(11, &range); }, "getPwmClockInfo(11,*)"},
    {"ZXGetPWMClockDefault", [&] { return ZXGetPWMClockDefault(11, &w); }, "getPwmClockDefault(11,*)"},
    {"ZXSetCurrentPWMClockLevel", [&] { return ZXSetCurrentPWMClockLevel(11, 22); }, "setCurrentPwmClockLevel(11,22)"},
    {"ZXSetPWMClockDefault", [&] { return ZXSetPWMClockDefault(11); }, "setPwmClockDefault(11)"},
    {"ZXGetTemperature", [&] { return ZXGetTemperature(11, &w); }, "getTemperature(11,*)"},
    {"ZXGetUsage", [&] { return ZXGetUsage(11, &w); }, "getUsage(11,*)"},
    {"ZXGetDACLevel", [&] { return ZXGetDACLevel(11, &w); }, "getDacLevel(11,*)"},
    {"ZXSetDACLevel", [&] { return ZXSetDACLevel(11, 22); }, "setDacLevel(11,22)"},
    {"ZXGetFanSpeedInfo", [&] { return ZXGetFanSpeedInfo(11, 22, &range, 33); }, "getFanSpeedInfo(11,22,*,33)"},
    {"ZXGetFanSpeed", [&] { return ZXGetFanSpeed(11, 22, &w, 33); }, "getFanSpeed(11,22,*,33)"},
    {"ZXSetFanSpeed", [&] { return ZXSetFanSpeed(11, 22, 33, 44); }, "setFanSpeed(11,22,33,44)"},
    {"ZXSetFanSpeedDefault", [&] { return ZXSetFanSpeedDefault(11, 22, 33); }, "setFanSpeedDefault(11,22,33)"},
        };
    }

    RecordingBackend ati;
    RecordingBackend nv;
    U w = 0;
    U w2 = 0;
    ZXRangeInfo range{};
    ZXLevelValues levels{};
    ZXVgaInfoDescription desc{};
};

TEST_F(FrontDoorTest, EveryExportReachesTheChosenBackendWithItsArgumentsInOrder) {
    struct Case {
        zx::VendorKind kind;
        RecordingBackend* target;
        RecordingBackend* other;
        StatusCode answer;
    };
    // Kind 1 is ATI; every other non-zero kind is served by the NVIDIA backend.
    for (const Case c : {Case{zx::VendorKind::Ati, &ati, &nv, StatusCode::Failed},
                          Case{zx::VendorKind::Nvidia, &nv, &ati, StatusCode::Ok},
                          Case{static_cast<zx::VendorKind>(7), &nv, &ati, StatusCode::NotSupported}}) {
        zx::state().vendorKind = c.kind;
        c.target->answer = c.answer;
        ati.calls.clear();
        nv.calls.clear();
        for (const auto& e : allCalls()) {
            SCOPED_TRACE(e.name);
            fillOutputs();
            c.target->calls.clear();
            EXPECT_EQ(e.call(), static_cast<ZXStatus>(c.answer));
            EXPECT_EQ(c.target->calls, std::vector<std::string>{e.expected});
            EXPECT_TRUE(c.other->calls.empty());
        }
        EXPECT_TRUE(c.target->outputsWereClear);
    }
}

TEST_F(FrontDoorTest, WithoutAVendorEveryExportAnswersThreeWithExactlyItsOutputsCleared) {
    for (const auto& e : allCalls()) {
        SCOPED_TRACE(e.name);
        fillOutputs();
        EXPECT_EQ(e.call(), ZX_STATUS_NOT_INITIALISED);
        const std::string expected = e.expected;
        EXPECT_EQ(clearedOutputs(), std::count(expected.begin(), expected.end(), '*'));
        // Only the first byte of each description string is cleared.
        for (const auto& text : desc.strings) EXPECT_EQ(static_cast<unsigned char>(text[1]), 0xAAu);
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
    ZXAdapterInfoRecord expected;
    std::memset(&expected, 0xAA, sizeof expected);
    // Count, kinds and locations are cleared; the string columns are not.
    expected.count = 0;
    std::memset(expected.kind, 0, sizeof expected.kind);
    std::memset(expected.location, 0, sizeof expected.location);
    EXPECT_EQ(std::memcmp(&info, &expected, sizeof info), 0);
}

}  // namespace
