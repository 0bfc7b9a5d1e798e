// The library's exports: nvapi_QueryInterface with the operations it hands
// out, and the control interface of zxsim_nvapi.h. Nothing may throw past
// these functions.
#include <mutex>
#include <string>

#include "simulator.h"
#include "zxsim_nvapi.h"

using zxsim::Simulator;
namespace nv = zxsim::nv;

namespace {

template <typename F>
auto guarded(F f, decltype(f()) onError) noexcept -> decltype(f()) {
    try {
        return f();
    } catch (...) {
        return onError;
    }
}

Simulator& sim() { return Simulator::instance(); }

nv::NvStatus ZXSIM_NVAPI_CALL initialize() {
    return guarded([] { return sim().initialize(); }, ZXSIM_NVAPI_ERROR);
}
nv::NvStatus ZXSIM_NVAPI_CALL enumPhysicalGpus(nv::NvGpuHandle handles[nv::kMaxPhysicalGpus], std::uint32_t* count) {
    return guarded([&] { return sim().enumPhysicalGpus(handles, count); }, ZXSIM_NVAPI_ERROR);
}
nv::NvStatus ZXSIM_NVAPI_CALL getBusId(nv::NvGpuHandle gpu, std::uint32_t* bus) {
    return guarded([&] { return sim().getBusId(gpu, bus); }, ZXSIM_NVAPI_ERROR);
}
nv::NvStatus ZXSIM_NVAPI_CALL getPerfClocks(nv::NvGpuHandle gpu, std::uint32_t selector, nv::NvPerfClocksRecord* rec) {
    return guarded([&] { return sim().getPerfClocks(gpu, selector, rec); }, ZXSIM_NVAPI_ERROR);
}
nv::NvStatus ZXSIM_NVAPI_CALL setPerfClocks(nv::NvGpuHandle gpu, std::uint32_t selector, nv::NvPerfClocksRecord* rec) {
    return guarded([&] { return sim().setPerfClocks(gpu, selector, rec); }, ZXSIM_NVAPI_ERROR);
}
nv::NvStatus ZXSIM_NVAPI_CALL getThermalSettings(nv::NvGpuHandle gpu, std::uint32_t sensor, nv::NvThermalRecord* rec) {
    return guarded([&] { return sim().getThermalSettings(gpu, sensor, rec); }, ZXSIM_NVAPI_ERROR);
}
nv::NvStatus ZXSIM_NVAPI_CALL getCoolerSettings(nv::NvGpuHandle gpu, std::uint32_t selector, nv::NvCoolerRecord* rec) {
    return guarded([&] { return sim().getCoolerSettings(gpu, selector, rec); }, ZXSIM_NVAPI_ERROR);
}
nv::NvStatus ZXSIM_NVAPI_CALL setCoolerLevels(nv::NvGpuHandle gpu, std::uint32_t index, nv::NvCoolerLevelsRecord* rec) {
    return guarded([&] { return sim().setCoolerLevels(gpu, index, rec); }, ZXSIM_NVAPI_ERROR);
}
nv::NvStatus ZXSIM_NVAPI_CALL restoreCoolerSettings(nv::NvGpuHandle gpu, std::uint32_t* indices, std::uint32_t count) {
    return guarded([&] { return sim().restoreCoolerSettings(gpu, indices, count); }, ZXSIM_NVAPI_ERROR);
}
nv::NvStatus ZXSIM_NVAPI_CALL i2cRead(nv::NvGpuHandle gpu, nv::NvI2cTransfer* transfer, std::uint32_t* one) {
    return guarded([&] { return sim().i2cRead(gpu, transfer, one); }, ZXSIM_NVAPI_ERROR);
}
nv::NvStatus ZXSIM_NVAPI_CALL i2cWrite(nv::NvGpuHandle gpu, nv::NvI2cTransfer* transfer, std::uint32_t* one) {
    return guarded([&] { return sim().i2cWrite(gpu, transfer, one); }, ZXSIM_NVAPI_ERROR);
}

template <typename Fn>
void* entry(Fn fn) {
    return reinterpret_cast<void*>(fn);
}

// Indexed by zxsim::Op; the casts check each entry against its signature.
void* const kEntries[zxsim::kOpCount] = {
    entry(static_cast<nv::NvInitializeFn>(&initialize)),
    entry(static_cast<nv::NvEnumPhysicalGpusFn>(&enumPhysicalGpus)),
    entry(static_cast<nv::NvGetBusIdFn>(&getBusId)),
    entry(static_cast<nv::NvGetPerfClocksFn>(&getPerfClocks)),
    entry(static_cast<nv::NvSetPerfClocksFn>(&setPerfClocks)),
    entry(static_cast<nv::NvGetThermalSettingsFn>(&getThermalSettings)),
    entry(static_cast<nv::NvGetCoolerSettingsFn>(&getCoolerSettings)),
    entry(static_cast<nv::NvSetCoolerLevelsFn>(&setCoolerLevels)),
    entry(static_cast<nv::NvRestoreCoolerSettingsFn>(&restoreCoolerSettings)),
    entry(static_cast<nv::NvI2cReadFn>(&i2cRead)),
    entry(static_cast<nv::NvI2cWriteFn>(&i2cWrite)),
};

// Strings handed to C callers live here until the next call that returns
// text. Not thread-local: dynamic TLS in a loaded module trips
// LeakSanitizer's exit scan, and the control calls serve one test thread.
const char* heldText(std::string text) {
    static std::mutex lock;
    static std::string held;
    std::lock_guard<std::mutex> guard(lock);
    held = std::move(text);
    return held.c_str();
}

}  // namespace

extern "C" {

ZXSIM_NVAPI_EXPORT void* ZXSIM_NVAPI_CALL nvapi_QueryInterface(std::uint32_t id) {
    return guarded(
        [&]() -> void* {
            std::optional<zxsim::Op> op = sim().queryInterface(id);
            return op ? kEntries[static_cast<std::size_t>(*op)] : nullptr;
        },
        nullptr);
}

ZXSIM_NVAPI_EXPORT int zxsim_nvapi_load_scenario(const char* text) {
    return guarded([&] { return sim().loadScenario(text != nullptr ? text : ""); }, -1);
}

ZXSIM_NVAPI_EXPORT int zxsim_nvapi_apply(const char* text) {
    return guarded([&] { return sim().apply(text != nullptr ? text : ""); }, -1);
}

ZXSIM_NVAPI_EXPORT void zxsim_nvapi_reset(void) {
    guarded([] { sim().reset(); return 0; }, 0);
}

ZXSIM_NVAPI_EXPORT const char* zxsim_nvapi_last_error(void) {
    return guarded([] { return heldText(sim().lastError()); }, "");
}

ZXSIM_NVAPI_EXPORT unsigned zxsim_nvapi_log_count(void) {
    return guarded([] { return static_cast<unsigned>(sim().logCount()); }, 0u);
}

ZXSIM_NVAPI_EXPORT const char* zxsim_nvapi_log_line(unsigned i) {
    return guarded(
        [&]() -> const char* {
            std::optional<std::string> line = sim().logLine(i);
            return line ? heldText(std::move(*line)) : nullptr;
        },
        nullptr);
}

ZXSIM_NVAPI_EXPORT void zxsim_nvapi_clear_log(void) {
    guarded([] { sim().clearLog(); return 0; }, 0);
}

ZXSIM_NVAPI_EXPORT void zxsim_nvapi_set_logging(int on) {
    guarded([&] { sim().setLogging(on != 0); return 0; }, 0);
}

ZXSIM_NVAPI_EXPORT int zxsim_nvapi_initialised(void) {
    return guarded([] { return sim().initialised() ? 1 : 0; }, 0);
}

ZXSIM_NVAPI_EXPORT int zxsim_nvapi_gpu_count(void) {
    return guarded([] { return static_cast<int>(sim().gpuCount()); }, 0);
}

ZXSIM_NVAPI_EXPORT long long zxsim_nvapi_clock_khz(unsigned gpu, unsigned selector, unsigned domain) {
    return guarded(
        [&] {
            std::optional<std::uint32_t> khz = sim().clockKHz(gpu, selector, domain);
            return khz ? static_cast<long long>(*khz) : -1ll;
        },
        -1ll);
}

ZXSIM_NVAPI_EXPORT int zxsim_nvapi_cooler_level(unsigned gpu, unsigned row) {
    return guarded(
        [&] {
            std::optional<nv::NvCoolerRow> cooler = sim().coolerRow(gpu, row);
            return cooler ? static_cast<int>(cooler->currentLevel) : -1;
        },
        -1);
}

ZXSIM_NVAPI_EXPORT int zxsim_nvapi_cooler_policy(unsigned gpu, unsigned row) {
    return guarded(
        [&] {
            std::optional<nv::NvCoolerRow> cooler = sim().coolerRow(gpu, row);
            return cooler ? static_cast<int>(cooler->currentPolicy) : -1;
        },
        -1);
}

ZXSIM_NVAPI_EXPORT int zxsim_nvapi_i2c_peek(unsigned gpu, unsigned addr, unsigned reg) {
    return guarded(
        [&] {
            std::optional<std::uint8_t> value = sim().i2cPeek(gpu, addr, reg);
            return value ? static_cast<int>(*value) : -1;
        },
        -1);
}

ZXSIM_NVAPI_EXPORT int zxsim_nvapi_i2c_poke(unsigned gpu, unsigned addr, unsigned reg, unsigned value) {
    return guarded([&] { return sim().i2cPoke(gpu, addr, reg, value) ? 0 : -1; }, -1);
}

}  // extern "C"
