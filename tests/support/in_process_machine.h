// Both simulated machines in the test process, started through ZXInitLib of the
// static library on an in-memory platform that hands out the simulator's entry
// points; and the table of the exports that reach a backend.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

#include "api/state.h"
#include "nv/nvapi_binding.h"
#include "support/atisim.h"
#include "support/fake_platform.h"
#include "support/nvsim.h"
#include "zxdisplay.h"

namespace zxtest::inproc {

enum class Vendor { Nvidia, Ati };

// One export: its call with its outputs in out, their size, its arguments as
// text ("0,1,*": a "*" per output), and the same export with other values.
struct Export {
    const char* name;
    std::size_t outSize;
    std::function<ZXStatus(std::uint8_t* out)> call;
    std::string args;
    std::function<Export(std::vector<std::uint32_t>)> with;
};

// Integer parameters take the values in order (0 past them: GPU 0, fan 0);
// pointer parameters point one after another into out.
template <typename... P>
Export exportOf(const char* name, ZXStatus (*fn)(P...), std::vector<std::uint32_t> values) {
    const std::size_t size = (std::size_t{0} + ... + (std::is_pointer_v<P> ? sizeof(std::remove_pointer_t<P>) : 0));
    std::string args;
    std::size_t shown = 0;
    ((args += (args.empty() ? "" : ",") +
              (std::is_pointer_v<P> ? "*" : std::to_string(shown < values.size() ? values[shown++] : 0))),
     ...);
    return {name, size, [fn, values](std::uint8_t* out) {
                std::size_t next = 0;
                auto arg = [&](auto type) {
                    using T = typename decltype(type)::type;
                    if constexpr (std::is_pointer_v<T>) {
                        const auto p = reinterpret_cast<T>(out);
                        out += sizeof(*p);
                        return p;
                    } else {
                        return T{next < values.size() ? values[next++] : 0};
                    }
                };
                // Braces: arguments are made left to right.
                return std::apply(fn, std::tuple<P...>{arg(std::type_identity<P>{})...});
            },
            args, [name, fn](std::vector<std::uint32_t> other) { return exportOf(name, fn, std::move(other)); }};
}
#define ZX_EXPORT(fn, ...) exportOf(#fn, fn, {__VA_ARGS__})

// Setters carry values the card accepts.
inline const std::vector<Export>& exports() {
    static const std::vector<Export> table = {
        ZX_EXPORT(ZXGetControlMode), ZX_EXPORT(ZXGetGpuCount), ZX_EXPORT(ZXGetCurrentPerformanceLevel),
        ZX_EXPORT(ZXGetVGAInfoDescription), ZX_EXPORT(ZXGetCurrentVoltage), ZX_EXPORT(ZXGetPerformanceLevelVoltages),
        ZX_EXPORT(ZXGetPerformanceDefaultVoltages), ZX_EXPORT(ZXGetVoltageInfo), ZX_EXPORT(ZXGet2DDefaultVoltage),
        ZX_EXPORT(ZXSetCurrentVoltageLevel, 0, 1000), ZX_EXPORT(ZXSetPerformanceVoltageLevel, 0, 0, 1000),
        ZX_EXPORT(ZXSetVoltageDefault), ZX_EXPORT(ZXGetCurrentMemoryVoltageLevel), ZX_EXPORT(ZXGetMemoryVoltageInfo),
        ZX_EXPORT(ZXGetMemoryVoltageDefault), ZX_EXPORT(ZXSetCurrentMemoryVoltageLevel, 0, 1),
        ZX_EXPORT(ZXSetMemoryVoltageDefault), ZX_EXPORT(ZXGetPerformanceLevelGPUClocks), ZX_EXPORT(ZXGetGPUClockInfo),
        ZX_EXPORT(ZXGetGPUClockInfoEx, 0, 1), ZX_EXPORT(ZXGetPerformanceDefaultGPUClocks),
        ZX_EXPORT(ZXSetPerformanceLevelGPUClock, 0, 1, 400), ZX_EXPORT(ZXSetGPUClockDefault),
        ZX_EXPORT(ZXGetPerformanceLevelMemoryClocks), ZX_EXPORT(ZXGetMemoryClockInfo),
        ZX_EXPORT(ZXGetMemoryClockInfoEx, 0, 1), ZX_EXPORT(ZXGetPerformanceDefaultMemoryClocks),
        ZX_EXPORT(ZXSetPerformanceLevelMemoryClock, 0, 1, 600), ZX_EXPORT(ZXSetMemoryClockDefault),
        ZX_EXPORT(ZXGetPerformanceLevelShaderClocks), ZX_EXPORT(ZXGetShaderClockInfo),
        ZX_EXPORT(ZXGetShaderClockInfoEx, 0, 1), ZX_EXPORT(ZXGetPerformanceDefaultShaderClocks),
        ZX_EXPORT(ZXSetPerformanceLevelShaderClock, 0, 1, 900), ZX_EXPORT(ZXSetShaderClockDefault),
        ZX_EXPORT(ZXGetCurrentPWMClockLevel), ZX_EXPORT(ZXGetPWMClockInfo), ZX_EXPORT(ZXGetPWMClockDefault),
        ZX_EXPORT(ZXSetCurrentPWMClockLevel, 0, 1), ZX_EXPORT(ZXSetPWMClockDefault), ZX_EXPORT(ZXGetTemperature),
        ZX_EXPORT(ZXGetUsage), ZX_EXPORT(ZXGetDACLevel), ZX_EXPORT(ZXSetDACLevel, 0, 1), ZX_EXPORT(ZXGetFanSpeedInfo),
        ZX_EXPORT(ZXGetFanSpeed), ZX_EXPORT(ZXSetFanSpeed, 0, 0, 60), ZX_EXPORT(ZXSetFanSpeedDefault),
    };
    return table;
}

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
    "regulator kind=1 base=800 step=25\n"
    "i2c addr=0x3E reg=0x10 value=0x04\n";  // pins 21, 10, 11, 12, 22 at 00001: step 12
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

// A log line's operation: its first word; the two ATI I2C entry points are
// one operation, failed together, as every path to the bus.
inline std::string operationOf(const std::string& line) {
    std::string op = line.substr(0, line.find(' '));
    return op.rfind("WriteAndReadI2C", 0) == 0 ? "I2C" : op;
}

// Scenario lines that make every call of an operation fail.
inline std::string faultLine(Vendor vendor, const std::string& op) {
    return vendor == Vendor::Ati && op == "I2C"
               ? "fault op=WriteAndReadI2C status=-1\nfault op=WriteAndReadI2CEx status=-1\n"
               : "fault op=" + op + " status=-1\n";
}

// A log line that changes the card.
inline bool writesToCard(const std::string& line) {
    const std::string call = line.substr(0, line.find(" -> "));
    const auto starts = [&](const char* prefix) { return call.rfind(prefix, 0) == 0; };
    return starts("Set") || starts("Restore") || starts("I2CWrite") ||
           (starts("WriteAndReadI2C") && call.find(" data=") != std::string::npos);
}

// One call's answer, whether its outputs are zero (for ZXGetVGAInfoDescription
// the count and each string's first byte), and the vendor calls it made.
struct Outcome {
    ZXStatus status = 0;
    bool outputsZero = true;
    std::vector<std::string> log;
};

// One simulated machine in this process, started through ZXInitLib.
class Machine {
public:
    explicit Machine(Vendor vendor) : vendor_(vendor) {
        const bool nv = vendor == Vendor::Nvidia;
        os_.addDevice(nv ? kNvInstance : kAtiInstance, std::string("Display"),
                      std::string("PCI bus 1, device 0, function 0;(1,0,0)"));
        os_.putFile(std::string("/opt/host/") + (nv ? "NVVGA.DAT" : "ATIVGA.DAT"),
                    zxtest::hexOf(nv ? kNvProfile : kAtiProfile));
        os_.displays = {{"card0", true}};
        offerAllBut("");
        zx::platform::setPlatform(&os_);
    }
    ~Machine() {
        ZXDeInitLib();
        zx::platform::setPlatform(nullptr);
        zx::state() = zx::LibraryState{};
    }

    // Loads the scenario afresh with extra lines ("=..." replaces it) and starts.
    ZXStatus start(const std::string& extra = "") {
        const std::string base = vendor_ == Vendor::Nvidia ? kNvScenario : kAtiScenario;
        const std::string scenario = extra.rfind('=', 0) == 0 ? extra.substr(1) : base + extra;
        ZXDeInitLib();
        if (vendor_ == Vendor::Nvidia) {
            // NVAPI is bound once per process; binding anew lets absent entries take effect.
            zx::nv::resetNvapiBinding();
            EXPECT_EQ(nv_.load(scenario), 0) << nv_.lastError();
        } else {
            EXPECT_EQ(ati_.load(scenario), 0) << ati_.lastError();
        }
        const ZXStatus s = ZXInitLib();
        clearLog();
        return s;
    }
    void apply(const std::string& lines) {
        EXPECT_EQ(vendor_ == Vendor::Nvidia ? nv_.apply(lines) : ati_.apply(lines), 0) << lines;
    }
    // Starts without an operation's entry point (bound at start-up only).
    ZXStatus startWithout(const std::string& op) {
        if (vendor_ == Vendor::Nvidia) {
            return start("missing op=" + op + "\n");
        }
        offerAllBut(op);
        const ZXStatus s = start();
        offerAllBut("");
        return s;
    }

    Outcome call(const Export& e) {
        alignas(8) std::uint8_t out[512];
        std::memset(out, 0xAA, sizeof out);
        clearLog();
        Outcome r{e.call(out), true, {}};
        // The NVAPI simulator's "Regulator ..." lines note the card's state, not calls.
        for (const std::string& line : vendor_ == Vendor::Nvidia ? nv_.log() : ati_.log()) {
            if (line.rfind("Regulator ", 0) != 0) {
                r.log.push_back(line);
            }
        }
        if (std::strcmp(e.name, "ZXGetVGAInfoDescription") == 0) {
            const auto* d = reinterpret_cast<const ZXVgaInfoDescription*>(out);
            r.outputsZero = d->count == 0;
            for (const auto& row : d->strings) {
                r.outputsZero = r.outputsZero && row[0] == '\0';
            }
        } else {
            r.outputsZero = std::all_of(out, out + e.outSize, [](std::uint8_t b) { return b == 0; });
        }
        return r;
    }
    // After a failed start-up every export answers 3; otherwise 0, 1 or 2, outputs zero unless 0.
    void expectEveryExportConsistent(ZXStatus started, const std::string& after = "") {
        for (const Export& e : exports()) {
            const Outcome r = call(e);
            EXPECT_TRUE(started == ZX_STATUS_OK ? r.status <= ZX_STATUS_NOT_SUPPORTED
                                                : r.status == ZX_STATUS_NOT_INITIALISED)
                << e.name << " answered " << r.status << after;
            EXPECT_TRUE(r.status == ZX_STATUS_OK || r.outputsZero) << e.name << " left outputs" << after;
        }
    }

    zxtest::FakePlatform& os() { return os_; }

private:
    // The vendor library with every entry point but one ("": all).
    void offerAllBut(const std::string& absent) {
        zxtest::FakeLibrary lib;
        if (vendor_ == Vendor::Nvidia) {
            if (void* sim = dlopen(zxtest::nvsim::kLibraryName, RTLD_NOW | RTLD_NOLOAD)) {  // loaded by nv_
                lib.symbols["nvapi_QueryInterface"] = dlsym(sim, "nvapi_QueryInterface");
                dlclose(sim);
            }
        } else {
            for (const char* name : kAtiEntryPoints) {
                if (operationOf(name + 6) != absent) {
                    lib.symbols[name] = ati_.entry(name);
                }
            }
        }
        os_.libraries = {{vendor_ == Vendor::Nvidia ? "libnvidia-api.so.1" : "libatipdlxx.so", lib}};
    }
    void clearLog() {
        if (vendor_ == Vendor::Nvidia) {
            nv_.clearLog();
        } else {
            reinterpret_cast<void (*)()>(ati_.entry("zxsim_ati_clear_log"))();
        }
    }

    Vendor vendor_;
    zxtest::FakePlatform os_;
    zxtest::nvsim::Simulator nv_;
    zxtest::atisim::Control ati_;
};

}  // namespace zxtest::inproc
