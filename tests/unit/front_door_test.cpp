// Every dispatched export forwards its arguments unchanged, in order, to the
// chosen backend and hands back the backend's answer; getters clear their
// outputs first (without a vendor: the Hostile/*LibraryAbsent cases).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "core/backend.h"
#include "api/state.h"
#include "support/in_process_machine.h"
#include "zxdisplay.h"

namespace {

using zx::LevelValues;
using zx::RangeInfo;
using zx::StatusCode;
using zx::VgaInfoDescription;
using U = std::uint32_t;

// Whether the parts of an output that the front doors clear are 0.
template <class T>
bool cleared(const T* output) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(output);
    return std::all_of(bytes, bytes + sizeof(T), [](std::uint8_t b) { return b == 0; });
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

using zxtest::inproc::Export;
using zxtest::inproc::exports;

// Backend calls are spelled as the export without "ZX", case aside.
std::string lowered(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

class FrontDoorTest : public ::testing::Test {
protected:
    void SetUp() override { zx::overrideBackendsForTesting(&ati, &nv); }
    void TearDown() override {
        zx::overrideBackendsForTesting(nullptr, nullptr);
        zx::state().vendorKind = zx::VendorKind::None;
    }
    RecordingBackend ati;
    RecordingBackend nv;
    alignas(8) std::uint8_t out[512];
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
        for (const Export& plain : exports()) {
            const Export e = plain.with({11, 22, 33, 44});  // values told apart
            SCOPED_TRACE(e.name);
            c.target->calls.clear();
            std::memset(out, 0xAA, sizeof out);
            EXPECT_EQ(e.call(out), static_cast<ZXStatus>(c.answer));
            ASSERT_EQ(c.target->calls.size(), 1u);
            EXPECT_EQ(lowered(c.target->calls[0]), lowered(std::string(e.name + 2) + "(" + e.args + ")"));
            EXPECT_TRUE(c.other->calls.empty());
        }
        EXPECT_TRUE(c.target->outputsWereClear);
    }
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
