// Both simulated machines in the test process: the library's exports from
// the static library, started through ZXInitLib on an in-memory platform
// whose vendor library hands out the simulator's own entry points, and the
// table of the exports that reach a vendor backend. White-box tests only
// (it reaches the library's internal state); header-only for that reason.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "api/state.h"
#include "nv/nvapi_binding.h"
#include "support/atisim.h"
#include "support/fake_platform.h"
#include "support/nvsim.h"
#include "zxdisplay.h"

namespace zxtest::inproc {

enum class Vendor { Nvidia, Ati };

// One export: how to call it for GPU 0 with its outputs in out, and how many
// bytes of out it writes. Setters carry values the card accepts.
struct Export {
    const char* name;
    std::size_t outSize;
    std::function<ZXStatus(std::uint8_t* out)> call;
};

template <typename T>
T* as(std::uint8_t* out) {
    return reinterpret_cast<T*>(out);
}
inline std::uint32_t* u32(std::uint8_t* out, int i = 0) { return reinterpret_cast<std::uint32_t*>(out) + i; }

// Every export that reaches a vendor backend.
inline const std::vector<Export>& exports() {
    static const std::vector<Export> table = {
        {"ZXGetControlMode", 4, [](auto o) { return ZXGetControlMode(u32(o)); }},
        {"ZXGetGpuCount", 4, [](auto o) { return ZXGetGpuCount(u32(o)); }},
        {"ZXGetCurrentPerformanceLevel", 4, [](auto o) { return ZXGetCurrentPerformanceLevel(0, u32(o)); }},
        {"ZXGetVGAInfoDescription", sizeof(ZXVgaInfoDescription),
         [](auto o) { return ZXGetVGAInfoDescription(0, as<ZXVgaInfoDescription>(o)); }},
        {"ZXGetCurrentVoltage", 8, [](auto o) { return ZXGetCurrentVoltage(0, u32(o), u32(o, 1)); }},
        {"ZXGetPerformanceLevelVoltages", 20,
         [](auto o) { return ZXGetPerformanceLevelVoltages(0, as<ZXLevelValues>(o)); }},
        {"ZXGetPerformanceDefaultVoltages", 20,
         [](auto o) { return ZXGetPerformanceDefaultVoltages(0, as<ZXLevelValues>(o)); }},
        {"ZXGetVoltageInfo", 12, [](auto o) { return ZXGetVoltageInfo(0, as<ZXRangeInfo>(o)); }},
        {"ZXGet2DDefaultVoltage", 4, [](auto o) { return ZXGet2DDefaultVoltage(0, u32(o)); }},
        {"ZXSetCurrentVoltageLevel", 0, [](auto) { return ZXSetCurrentVoltageLevel(0, 1000); }},
        {"ZXSetPerformanceVoltageLevel", 0, [](auto) { return ZXSetPerformanceVoltageLevel(0, 0, 1000); }},
        {"ZXSetVoltageDefault", 0, [](auto) { return ZXSetVoltageDefault(0); }},
        {"ZXGetCurrentMemoryVoltageLevel", 4, [](auto o) { return ZXGetCurrentMemoryVoltageLevel(0, u32(o)); }},
        {"ZXGetMemoryVoltageInfo", 12, [](auto o) { return ZXGetMemoryVoltageInfo(0, as<ZXRangeInfo>(o)); }},
        {"ZXGetMemoryVoltageDefault", 4, [](auto o) { return ZXGetMemoryVoltageDefault(0, u32(o)); }},
        {"ZXSetCurrentMemoryVoltageLevel", 0, [](auto) { return ZXSetCurrentMemoryVoltageLevel(0, 1); }},
        {"ZXSetMemoryVoltageDefault", 0, [](auto) { return ZXSetMemoryVoltageDefault(0); }},
        {"ZXGetPerformanceLevelGPUClocks", 20,
         [](auto o) { return ZXGetPerformanceLevelGPUClocks(0, as<ZXLevelValues>(o)); }},
        {"ZXGetGPUClockInfo", 12, [](auto o) { return ZXGetGPUClockInfo(0, as<ZXRangeInfo>(o)); }},
        {"ZXGetGPUClockInfoEx", 12, [](auto o) { return ZXGetGPUClockInfoEx(0, 1, as<ZXRangeInfo>(o)); }},
        {"ZXGetPerformanceDefaultGPUClocks", 20,
         [](auto o) { return ZXGetPerformanceDefaultGPUClocks(0, as<ZXLevelValues>(o)); }},
        {"ZXSetPerformanceLevelGPUClock", 0, [](auto) { return ZXSetPerformanceLevelGPUClock(0, 1, 400); }},
        {"ZXSetGPUClockDefault", 0, [](auto) { return ZXSetGPUClockDefault(0); }},
        {"ZXGetPerformanceLevelMemoryClocks", 20,
         [](auto o) { return ZXGetPerformanceLevelMemoryClocks(0, as<ZXLevelValues>(o)); }},
        {"ZXGetMemoryClockInfo", 12, [](auto o) { return ZXGetMemoryClockInfo(0, as<ZXRangeInfo>(o)); }},
        {"ZXGetMemoryClockInfoEx", 12, [](auto o) { return ZXGetMemoryClockInfoEx(0, 1, as<ZXRangeInfo>(o)); }},
        {"ZXGetPerformanceDefaultMemoryClocks", 20,
         [](auto o) { return ZXGetPerformanceDefaultMemoryClocks(0, as<ZXLevelValues>(o)); }},
        {"ZXSetPerformanceLevelMemoryClock", 0, [](auto) { return ZXSetPerformanceLevelMemoryClock(0, 1, 600); }},
        {"ZXSetMemoryClockDefault", 0, [](auto) { return ZXSetMemoryClockDefault(0); }},
        {"ZXGetPerformanceLevelShaderClocks", 20,
         [](auto o) { return ZXGetPerformanceLevelShaderClocks(0, as<ZXLevelValues>(o)); }},
        {"ZXGetShaderClockInfo", 12, [](auto o) { return ZXGetShaderClockInfo(0, as<ZXRangeInfo>(o)); }},
        {"ZXGetShaderClockInfoEx", 12, [](auto o) { return ZXGetShaderClockInfoEx(0, 1, as<ZXRangeInfo>(o)); }},
        {"ZXGetPerformanceDefaultShaderClocks", 20,
         [](auto o) { return ZXGetPerformanceDefaultShaderClocks(0, as<ZXLevelValues>(o)); }},
        {"ZXSetPerformanceLevelShaderClock", 0, [](auto) { return ZXSetPerformanceLevelShaderClock(0, 1, 900); }},
        {"ZXSetShaderClockDefault", 0, [](auto) { return ZXSetShaderClockDefault(0); }},
        {"ZXGetCurrentPWMClockLevel", 4, [](auto o) { return ZXGetCurrentPWMClockLevel(0, u32(o)); }},
        {"ZXGetPWMClockInfo", 12, [](auto o) { return ZXGetPWMClockInfo(0, as<ZXRangeInfo>(o)); }},
        {"ZXGetPWMClockDefault", 4, [](auto o) { return ZXGetPWMClockDefault(0, u32(o)); }},
        {"ZXSetCurrentPWMClockLevel", 0, [](auto) { return ZXSetCurrentPWMClockLevel(0, 1); }},
        {"ZXSetPWMClockDefault", 0, [](auto) { return ZXSetPWMClockDefault(0); }},
        {"ZXGetTemperature", 4, [](auto o) { return ZXGetTemperature(0, u32(o)); }},
        {"ZXGetUsage", 4, [](auto o) { return ZXGetUsage(0, u32(o)); }},
        {"ZXGetDACLevel", 4, [](auto o) { return ZXGetDACLevel(0, u32(o)); }},
        {"ZXSetDACLevel", 0, [](auto) { return ZXSetDACLevel(0, 1); }},
        {"ZXGetFanSpeedInfo", 12, [](auto o) { return ZXGetFanSpeedInfo(0, 0, as<ZXRangeInfo>(o), 0); }},
        {"ZXGetFanSpeed", 4, [](auto o) { return ZXGetFanSpeed(0, 0, u32(o), 0); }},
        {"ZXSetFanSpeed", 0, [](auto) { return ZXSetFanSpeed(0, 0, 60, 0); }},
        {"ZXSetFanSpeedDefault", 0, [](auto) { return ZXSetFanSpeedDefault(0, 0, 0); }},
    };
    return table;
}

// --- The two simulated machines ----------------------------------------------

// Three levels of GPU, memory and shader clocks, a cooler and a kind-1 pin
// controller with the 5-bit VID table.
inline constexpr const char* kNvScenario =
    "gpu bus=1 levels=3 current=2\n"
    "clock sel=0 domain=0 freq=300000 min=150000 max=800000\n"
    "clock sel=0 domain=4 freq=400000 min=200000 max=1200000\n"
    "clock sel=0 domain=7 freq=600000 min=300000 max=1800000\n"
    "clock sel=1 domain=0 freq=500000 min=150000 max=800000\n"
    "clock sel=1 domain=4 freq=800000 min=200000 max=1200000\n"
    "clock sel=1 domain=7 freq=1000000 min=300000 max=1800000\n"
    "clock sel=2 domain=0 freq=650000 min=150000 max=800000\n"
    "clock sel=2 domain=4 freq=900000 min=200000 max=1200000\n"
    "clock sel=2 domain=7 freq=1625000 min=300000 max=1800000\n"
    "thermal temp=52\n"
    "cooler type=1 target=1 min=30 max=100 level=45\n"
    "regulator kind=1 base=800 step=25\n";
inline constexpr const char* kNvInstance = "PCI\\VEN_10DE&DEV_0622&SUBSYS_B1117A3C&REV_A2\\0000:01:00.0";
inline constexpr const char* kNvProfile =
    "[10DE_0622_B111_7A3C]\n"
    "GPUVoltageMin=800\nGPUVoltageMax=1300\nGPUVoltageStep=25\n"
    "DefaultGPUVoltage2D=1000\nDefaultGPUVoltage3D=1100\n"
    "MemoryVoltageMin=0\nMemoryVoltageMax=3\nMemoryVoltageStep=1\n"
    "DefaultMemoryVoltageLevel2D=1\nDefaultMemoryVoltageLevel3D=2\n"
    "PWMClockMin=0\nPWMClockMax=1\nPWMClockStep=1\nDefaultPWMLevel=0\n"
    "CanSet2DAs3DClock=1\nVGAInfoString0=Matrix card\n";

// Card voltages 1000 to 1200 in steps of 50, three levels, a fan and the
// regulator's pin controller (memory voltage level 3, PWM level 0).
inline constexpr const char* kAtiScenario =
    "gpu bus=1\n"
    "od vmin=1000 vmax=1200 vstep=50 emin=10000 emax=100000 estep=500 mmin=10000 mmax=150000 mstep=500\n"
    "level engine=30000 memory=50000 voltage=1000 dvoltage=1050\n"
    "level engine=50000 memory=80000 voltage=1100 dvoltage=1100\n"
    "level engine=70000 memory=110000 voltage=1200 dvoltage=1150\n"
    "activity percent=40 current=1\n"
    "thermal temp=65999\n"
    "fan min=20 max=100 speed=40\n"
    "pin reg=0x10 value=0x30\n";
inline constexpr const char* kAtiInstance = "PCI\\VEN_1002&DEV_9460&SUBSYS_05027A3C&REV_00\\0000:01:00.0";
inline constexpr const char* kAtiProfile =
    "[1002_9460_0502_7A3C]\n"
    "MemoryVoltageStep=1\nMemoryVoltageMax=3\nPWMClockStep=1\nPWMClockMax=1\nDACSupported=1\n"
    "VGAInfoString0=Matrix card\n";
inline constexpr const char* kAtiEntryPoints[] = {
    "ATIDL_GetODParameters", "ATIDL_GetPMCurrentActivity", "ATIDL_GetODPerformanceLevels",
    "ATIDL_SetODPerformanceLevels", "ATIDL_GetTemperature", "ATIDL_WriteAndReadI2C", "ATIDL_WriteAndReadI2CEx",
    "ATIDL_GetAdapterID", "ATIDL_GetFanSpeedInfo", "ATIDL_GetFanSpeed", "ATIDL_SetFanSpeed",
    "ATIDL_SetFanSpeedToDefault"};

// NVAPI entry points by the names of the simulator's log and scenario.
inline constexpr const char* kNvOperations[] = {"Initialize",         "EnumPhysicalGPUs",  "GetBusId",
                                     "GetPerfClocks",      "SetPerfClocks",     "GetThermalSettings",
                                     "GetCoolerSettings",  "SetCoolerLevels",   "RestoreCoolerSettings",
                                     "I2CRead",            "I2CWrite"};

// A log line's operation: its first word; the two ATI I2C entry points are
// one operation, failed together, as every path to the bus.
inline std::string operationOf(const std::string& line) {
    std::string op = line.substr(0, line.find(' '));
    return op.rfind("WriteAndReadI2C", 0) == 0 ? "I2C" : op;
}

// A log line that changes the card.
inline bool writesToCard(const std::string& line) {
    const std::string call = line.substr(0, line.find(" -> "));
    if (call.rfind("Set", 0) == 0 || call.rfind("Restore", 0) == 0 || call.rfind("I2CWrite", 0) == 0) {
        return true;
    }
    return call.rfind("WriteAndReadI2C", 0) == 0 && call.find(" data=") != std::string::npos;
}

// One simulated machine in this process, started through ZXInitLib.
class Machine {
public:
    explicit Machine(Vendor vendor) : vendor_(vendor) {
        os_.addDevice(vendor == Vendor::Nvidia ? kNvInstance : kAtiInstance, std::string("Display"),
                      std::string("PCI bus 1, device 0, function 0;(1,0,0)"));
        os_.putFile(std::string("/opt/host/") + (vendor == Vendor::Nvidia ? "NVVGA.DAT" : "ATIVGA.DAT"),
                    zxtest::hexOf(vendor == Vendor::Nvidia ? kNvProfile : kAtiProfile));
        os_.displays = {{"card0", true}};
        offerAllBut("");
        zx::platform::setPlatform(&os_);
    }
    ~Machine() {
        ZXDeInitLib();
        zx::platform::setPlatform(nullptr);
        zx::state() = zx::LibraryState{};
    }

    // The vendor library with every entry point but one ("": all).
    void offerAllBut(const std::string& absent) {
        os_.libraries.clear();
        zxtest::FakeLibrary lib;
        if (vendor_ == Vendor::Ati) {
            for (const char* name : kAtiEntryPoints) {
                const bool gone = absent == "I2C" ? std::strstr(name, "WriteAndReadI2C") != nullptr
                                                  : absent == std::string(name).substr(6);
                if (!gone) {
                    lib.symbols[name] = ati_.entry(name);
                }
            }
            os_.libraries["libatipdlxx.so"] = lib;
        } else {
            lib.symbols["nvapi_QueryInterface"] = nvQueryInterface();
            os_.libraries["libnvidia-api.so.1"] = lib;
        }
    }
    void removeLibrary() { os_.libraries.clear(); }

    // Loads the machine's scenario afresh with extra lines and starts the
    // library.
    ZXStatus start(const std::string& extra = "") {
        return startWith(std::string(vendor_ == Vendor::Nvidia ? kNvScenario : kAtiScenario) + extra);
    }
    // The same with a scenario of its own.
    ZXStatus startWith(const std::string& scenario) {
        ZXDeInitLib();
        if (vendor_ == Vendor::Nvidia) {
            // NVAPI is bound once per process; each start here binds anew,
            // so that absent interfaces and libraries take effect.
            zx::nv::resetNvapiBinding();
            EXPECT_EQ(nv_.load(scenario), 0) << nv_.lastError();
        } else {
            EXPECT_EQ(ati_.load(scenario), 0) << ati_.lastError();
        }
        const ZXStatus s = ZXInitLib();
        clearLog();
        return s;
    }

    // Scenario lines that make every call of an operation fail.
    std::string faultLine(const std::string& op) const {
        if (vendor_ == Vendor::Ati && op == "I2C") {
            return "fault op=WriteAndReadI2C status=-1\nfault op=WriteAndReadI2CEx status=-1\n";
        }
        return "fault op=" + op + " status=-1\n";
    }

    std::vector<std::string> log() const { return vendor_ == Vendor::Nvidia ? nv_.log() : ati_.log(); }
    void clearLog() {
        if (vendor_ == Vendor::Nvidia) {
            nv_.clearLog();
        } else {
            reinterpret_cast<void (*)()>(ati_.entry("zxsim_ati_clear_log"))();
        }
    }
    void apply(const std::string& lines) {
        const int bad = vendor_ == Vendor::Nvidia ? nv_.apply(lines) : ati_.apply(lines);
        EXPECT_EQ(bad, 0) << lines;
    }

    zxtest::FakePlatform& os() { return os_; }
    Vendor vendor() const { return vendor_; }
    zxtest::nvsim::Simulator& nv() { return nv_; }
    zxtest::atisim::Control& ati() { return ati_; }

private:
    static void* nvQueryInterface() {
        void* lib = dlopen(zxtest::nvsim::kLibraryName, RTLD_NOW | RTLD_NOLOAD);
        void* fn = lib != nullptr ? dlsym(lib, "nvapi_QueryInterface") : nullptr;
        if (lib != nullptr) {
            dlclose(lib);
        }
        return fn;
    }

    Vendor vendor_;
    zxtest::FakePlatform os_;
    zxtest::nvsim::Simulator nv_;
    zxtest::atisim::Control ati_;
};

}  // namespace zxtest::inproc
