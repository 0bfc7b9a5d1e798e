// What an export costs beyond the vendor call it wraps. Each backend runs on
// its simulator in this process (an in-memory platform hands the library the
// simulator's entry points), with the simulator's call log switched off; the
// raw figures call the same simulator entry point through the library's own
// binding with the same record, so the difference is the library's work.
// Also: one GPU-voltage step written to the pin controller, in I2C
// transactions and time. And one scrape of zxctl serve's /metrics against
// the bare getters it calls. Figures: docs/performance.md.
#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <chrono>
#include <cstring>
#include <string>

#include "api/state.h"
#include "ati/ati_binding.h"
#include "nv/nv_state.h"
#include "nv/nvapi_binding.h"
#include "platform/platform.h"
#include "metrics.h"
#include "support/fake_platform.h"
#include "zxdisplay.h"

namespace {

enum class Vendor { None, Nvidia, Ati };

const char* const kNvScenario =
    "gpu bus=1 levels=3 current=2\n"
    "clock sel=0 domain=0 freq=300000 min=150000 max=800000\n"
    "clock sel=0 domain=4 freq=400000 min=200000 max=1200000\n"
    "clock sel=1 domain=0 freq=500000 min=150000 max=800000\n"
    "clock sel=1 domain=4 freq=800000 min=200000 max=1200000\n"
    "clock sel=2 domain=0 freq=650000 min=150000 max=800000\n"
    "clock sel=2 domain=4 freq=900000 min=200000 max=1200000\n"
    "thermal temp=52\n"
    "cooler type=1 target=1 min=30 max=100 level=45\n"
    "regulator kind=1 base=800 step=25\n";
const char* const kNvProfile =
    "[10DE_0622_B111_7A3C]\nGPUVoltageMin=800\nGPUVoltageMax=1300\nGPUVoltageStep=25\n"
    "MemoryVoltageMax=3\nMemoryVoltageStep=1\nPWMClockMax=1\nPWMClockStep=1\n";
const char* const kAtiScenario =
    "gpu bus=1\n"
    "od vmin=1000 vmax=1200 vstep=50 emin=10000 emax=100000 estep=500 mmin=10000 mmax=150000 mstep=500\n"
    "level engine=30000 memory=50000 voltage=1000\n"
    "level engine=50000 memory=80000 voltage=1100\n"
    "level engine=70000 memory=110000 voltage=1200\n"
    "activity percent=40 current=1\nthermal temp=65999\nfan min=20 max=100 speed=40\n"
    "pin reg=0x10 value=0x30\n";
const char* const kAtiProfile =
    "[1002_9460_0502_7A3C]\nMemoryVoltageStep=1\nMemoryVoltageMax=3\nPWMClockStep=1\nPWMClockMax=1\n";
const char* const kAtiEntryPoints[] = {
    "ATIDL_GetODParameters", "ATIDL_GetPMCurrentActivity", "ATIDL_GetODPerformanceLevels",
    "ATIDL_SetODPerformanceLevels", "ATIDL_GetTemperature", "ATIDL_WriteAndReadI2C", "ATIDL_WriteAndReadI2CEx",
    "ATIDL_GetAdapterID", "ATIDL_GetFanSpeedInfo", "ATIDL_GetFanSpeed", "ATIDL_SetFanSpeed",
    "ATIDL_SetFanSpeedToDefault"};

void* simulator(Vendor v) {
    const char* name = v == Vendor::Nvidia ? "libnvidia-api.so.1" : "libatipdlxx.so";
    void* lib = dlopen(name, RTLD_NOW | RTLD_NODELETE);
    if (lib == nullptr) {
        std::fprintf(stderr, "cannot load %s: %s\n", name, dlerror());
        std::abort();
    }
    return lib;
}

template <typename Fn>
Fn control(Vendor v, const char* name) {
    return reinterpret_cast<Fn>(dlsym(simulator(v), name));
}

zxtest::FakePlatform& platform() {
    static zxtest::FakePlatform os;
    return os;
}

// Starts the library on one simulated card of the vendor with the
// simulator's log off; a Session per benchmark, which leaves the library
// stopped and the real platform in place for the other benchmarks.
void startOn(Vendor v) {
    ZXDeInitLib();
    zxtest::FakePlatform& os = platform();
    os.devices.clear();
    os.libraries.clear();
    os.files.clear();
    os.displays = {{"card0", true}};
    zxtest::FakeLibrary lib;
    if (v == Vendor::Nvidia) {
        os.addDevice("PCI\\VEN_10DE&DEV_0622&SUBSYS_B1117A3C&REV_A2\\0", std::string("Display"),
                     std::string("PCI bus 1, device 0, function 0;(1,0,0)"));
        os.putFile("/opt/host/NVVGA.DAT", zxtest::hexOf(kNvProfile));
        lib.symbols["nvapi_QueryInterface"] = dlsym(simulator(v), "nvapi_QueryInterface");
        os.libraries["libnvidia-api.so.1"] = lib;
        control<int (*)(const char*)>(v, "zxsim_nvapi_load_scenario")(kNvScenario);
    } else {
        os.addDevice("PCI\\VEN_1002&DEV_9460&SUBSYS_05027A3C&REV_00\\0", std::string("Display"),
                     std::string("PCI bus 1, device 0, function 0;(1,0,0)"));
        os.putFile("/opt/host/ATIVGA.DAT", zxtest::hexOf(kAtiProfile));
        for (const char* name : kAtiEntryPoints) {
            lib.symbols[name] = dlsym(simulator(v), name);
        }
        os.libraries["libatipdlxx.so"] = lib;
        control<int (*)(const char*)>(v, "zxsim_ati_load_scenario")(kAtiScenario);
    }
    zx::platform::setPlatform(&os);
    if (ZXInitLib() != ZX_STATUS_OK) {
        std::fprintf(stderr, "start-up failed\n");
        std::abort();
    }
    control<void (*)(int)>(v, v == Vendor::Nvidia ? "zxsim_nvapi_set_logging" : "zxsim_ati_set_logging")(0);
}

struct Session {
    explicit Session(Vendor v) { startOn(v); }
    ~Session() {
        ZXDeInitLib();
        zx::platform::setPlatform(nullptr);
    }
};

// --- NVIDIA ------------------------------------------------------------------

void BM_Nv_Raw_GetThermalSettings(benchmark::State& state) {
    const Session session(Vendor::Nvidia);
    zx::nv::NvThermalRecord rec{};
    for (auto _ : state) {
        rec.version = zx::nv::kThermalVersion;
        benchmark::DoNotOptimize(zx::nv::nvapi().getThermalSettings(zx::nv::gpuHandle(0), 0, &rec));
    }
}
void BM_Nv_ZXGetTemperature(benchmark::State& state) {
    const Session session(Vendor::Nvidia);
    std::uint32_t t = 0;
    for (auto _ : state) benchmark::DoNotOptimize(ZXGetTemperature(0, &t));
}
void BM_Nv_Raw_GetPerfClocks(benchmark::State& state) {
    const Session session(Vendor::Nvidia);
    static zx::nv::NvPerfClocksRecord rec{};
    for (auto _ : state) {
        rec.version = zx::nv::kPerfClocksVersion;
        benchmark::DoNotOptimize(zx::nv::nvapi().getPerfClocks(zx::nv::gpuHandle(0), 0, &rec));
    }
}
void BM_Nv_ZXGetPerformanceLevelGPUClocks(benchmark::State& state) {
    const Session session(Vendor::Nvidia);
    ZXLevelValues v{};
    for (auto _ : state) benchmark::DoNotOptimize(ZXGetPerformanceLevelGPUClocks(0, &v));
}
void BM_Nv_Raw_GetCoolerSettings(benchmark::State& state) {
    const Session session(Vendor::Nvidia);
    zx::nv::NvCoolerRecord rec{};
    for (auto _ : state) {
        rec.version = zx::nv::kCoolerVersion;
        benchmark::DoNotOptimize(zx::nv::nvapi().getCoolerSettings(zx::nv::gpuHandle(0), 0, &rec));
    }
}
void BM_Nv_ZXGetFanSpeed(benchmark::State& state) {
    const Session session(Vendor::Nvidia);
    std::uint32_t p = 0;
    for (auto _ : state) benchmark::DoNotOptimize(ZXGetFanSpeed(0, 0, &p, 0));
}
void BM_Nv_ZXGetCurrentVoltage(benchmark::State& state) {
    const Session session(Vendor::Nvidia);
    std::uint32_t v = 0, l = 0;
    for (auto _ : state) benchmark::DoNotOptimize(ZXGetCurrentVoltage(0, &v, &l));
}
void BM_Nv_ZXGetGpuCount(benchmark::State& state) {
    const Session session(Vendor::Nvidia);
    std::uint32_t n = 0;
    for (auto _ : state) benchmark::DoNotOptimize(ZXGetGpuCount(&n));
}

// One full GPU-voltage step write: the I2C transactions of one setter call
// (counted on the simulator's log, switched on for one call) and its time.
void BM_Nv_GpuVoltageStepWrite(benchmark::State& state) {
    const Session session(Vendor::Nvidia);
    const Vendor v = Vendor::Nvidia;
    ZXSetCurrentVoltageLevel(0, 1000);
    control<void (*)(int)>(v, "zxsim_nvapi_set_logging")(1);
    control<void (*)()>(v, "zxsim_nvapi_clear_log")();
    ZXSetCurrentVoltageLevel(0, 1250);
    const unsigned lines = control<unsigned (*)()>(v, "zxsim_nvapi_log_count")();
    unsigned transactions = 0;
    for (unsigned i = 0; i < lines; ++i) {
        const char* line = control<const char* (*)(unsigned)>(v, "zxsim_nvapi_log_line")(i);
        transactions += line != nullptr && std::strncmp(line, "I2C", 3) == 0 ? 1 : 0;
    }
    control<void (*)(int)>(v, "zxsim_nvapi_set_logging")(0);
    std::uint32_t voltage = 1000;
    for (auto _ : state) {
        voltage = voltage == 1000 ? 1250 : 1000;
        benchmark::DoNotOptimize(ZXSetCurrentVoltageLevel(0, voltage));
    }
    state.counters["i2c_per_write"] = transactions / 1.0;
}

// --- ATI -----------------------------------------------------------------------

void BM_Ati_Raw_GetTemperature(benchmark::State& state) {
    const Session session(Vendor::Ati);
    const zx::ati::AtiBinding& b = zx::ati::atiBinding();
    zx::ati::AtiTemperature t{};
    for (auto _ : state) {
        t.size = sizeof t;
        benchmark::DoNotOptimize(b.getTemperature(b.adapterIndex, 0, &t, zx::ati::gpuLocation(0)));
    }
}
void BM_Ati_ZXGetTemperature(benchmark::State& state) {
    const Session session(Vendor::Ati);
    std::uint32_t t = 0;
    for (auto _ : state) benchmark::DoNotOptimize(ZXGetTemperature(0, &t));
}
void BM_Ati_Raw_GetFanSpeed(benchmark::State& state) {
    const Session session(Vendor::Ati);
    const zx::ati::AtiBinding& b = zx::ati::atiBinding();
    zx::ati::AtiFanSpeedValue value{};
    for (auto _ : state) {
        value = zx::ati::AtiFanSpeedValue{sizeof value, zx::ati::kFanSpeedPercent, 0, zx::ati::kFanSpeedRead};
        benchmark::DoNotOptimize(b.getFanSpeed(b.adapterIndex, 0, &value, zx::ati::gpuLocation(0)));
    }
}
void BM_Ati_ZXGetFanSpeed(benchmark::State& state) {
    const Session session(Vendor::Ati);
    std::uint32_t p = 0;
    for (auto _ : state) benchmark::DoNotOptimize(ZXGetFanSpeed(0, 0, &p, 0));
}
void BM_Ati_Raw_GetPMCurrentActivity(benchmark::State& state) {
    const Session session(Vendor::Ati);
    const zx::ati::AtiBinding& b = zx::ati::atiBinding();
    zx::ati::AtiPmActivity a{};
    for (auto _ : state) {
        a.size = sizeof a;
        benchmark::DoNotOptimize(b.getPmCurrentActivity(b.adapterIndex, &a, zx::ati::gpuLocation(0)));
    }
}
void BM_Ati_ZXGetUsage(benchmark::State& state) {
    const Session session(Vendor::Ati);
    std::uint32_t p = 0;
    for (auto _ : state) benchmark::DoNotOptimize(ZXGetUsage(0, &p));
}
void BM_Ati_ZXGetPerformanceLevelGPUClocks(benchmark::State& state) {
    const Session session(Vendor::Ati);
    ZXLevelValues v{};
    for (auto _ : state) benchmark::DoNotOptimize(ZXGetPerformanceLevelGPUClocks(0, &v));
}
void BM_Ati_ZXGetCurrentMemoryVoltageLevel(benchmark::State& state) {
    const Session session(Vendor::Ati);
    std::uint32_t l = 0;
    for (auto _ : state) benchmark::DoNotOptimize(ZXGetCurrentMemoryVoltageLevel(0, &l));
}

// --- Metrics -------------------------------------------------------------------

// The getters one metrics sample calls, bare: the baseline of a scrape.
void bareSample() {
    ZXAdapterInfoRecord a{};
    std::uint32_t v = 0, w = 0;
    ZXLevelValues lv{};
    ZXGetAdapterInfo(&a);
    ZXGetLockLibStatus(&v);
    ZXGetGpuCount(&v);
    ZXGetTemperature(0, &v);
    ZXGetFanSpeed(0, 0, &v, 0);
    ZXGetCurrentPerformanceLevel(0, &v);
    ZXGetPerformanceLevelGPUClocks(0, &lv);
    ZXGetPerformanceLevelMemoryClocks(0, &lv);
    ZXGetPerformanceLevelShaderClocks(0, &lv);
    ZXGetCurrentVoltage(0, &v, &w);
    ZXGetCurrentMemoryVoltageLevel(0, &v);
    ZXGetCurrentPWMClockLevel(0, &v);
}

// One /metrics scrape of the card's one GPU (sample, failure count, text),
// timed alternately with the bare getters in the same run: scrape_us is the
// scrape's time, x_getters its ratio to the getters'.
void BM_MetricsScrape(benchmark::State& state, Vendor v) {
    const Session session(v);
    zxctl::metrics::Collector collector(ZX_STATUS_OK);
    using Clock = std::chrono::steady_clock;
    Clock::duration scrape{}, bare{};
    for (auto _ : state) {
        const auto t0 = Clock::now();
        benchmark::DoNotOptimize(collector.scrape());
        const auto t1 = Clock::now();
        bareSample();
        scrape += t1 - t0;
        bare += Clock::now() - t1;
    }
    state.counters["scrape_us"] = std::chrono::duration<double, std::micro>(scrape).count() /
                                  static_cast<double>(state.iterations());
    state.counters["x_getters"] = static_cast<double>(scrape.count()) / static_cast<double>(bare.count());
}

}  // namespace

BENCHMARK_CAPTURE(BM_MetricsScrape, Nvidia, Vendor::Nvidia);
BENCHMARK_CAPTURE(BM_MetricsScrape, Ati, Vendor::Ati);
BENCHMARK(BM_Nv_Raw_GetThermalSettings);
BENCHMARK(BM_Nv_ZXGetTemperature);
BENCHMARK(BM_Nv_Raw_GetPerfClocks);
BENCHMARK(BM_Nv_ZXGetPerformanceLevelGPUClocks);
BENCHMARK(BM_Nv_Raw_GetCoolerSettings);
BENCHMARK(BM_Nv_ZXGetFanSpeed);
BENCHMARK(BM_Nv_ZXGetCurrentVoltage);
BENCHMARK(BM_Nv_ZXGetGpuCount);
BENCHMARK(BM_Nv_GpuVoltageStepWrite);
BENCHMARK(BM_Ati_Raw_GetTemperature);
BENCHMARK(BM_Ati_ZXGetTemperature);
BENCHMARK(BM_Ati_Raw_GetFanSpeed);
BENCHMARK(BM_Ati_ZXGetFanSpeed);
BENCHMARK(BM_Ati_Raw_GetPMCurrentActivity);
BENCHMARK(BM_Ati_ZXGetUsage);
BENCHMARK(BM_Ati_ZXGetPerformanceLevelGPUClocks);
BENCHMARK(BM_Ati_ZXGetCurrentMemoryVoltageLevel);
