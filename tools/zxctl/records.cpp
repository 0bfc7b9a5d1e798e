// The records zxctl reads from the library, as JSON (see records.h).
#include "records.h"

#include <dlfcn.h>

#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <utility>

#include "simulate.h"

namespace zxctl {

// ---- Readings as JSON: a value, or null with the reason in "unavailable" --

void markUnavailable(json& obj, const std::string& key, ZXStatus s) {
    obj[key] = nullptr;
    obj["unavailable"][key] = ZXStatusName(s);
}

void putValue(json& obj, const std::string& key, ZXStatus s, std::uint32_t value) {
    if (s == ZX_STATUS_OK) {
        obj[key] = value;
    } else {
        markUnavailable(obj, key, s);
    }
}

json rangeJson(const ZXRangeInfo& r) { return json{{"min", r.minimum}, {"max", r.maximum}, {"step", r.step}}; }

void putRange(json& obj, const std::string& key, ZXStatus s, const ZXRangeInfo& r) {
    if (s == ZX_STATUS_OK) {
        obj[key] = rangeJson(r);
    } else {
        markUnavailable(obj, key, s);
    }
}

void putLevels(json& obj, const std::string& key, ZXStatus s, const ZXLevelValues& v) {
    if (s != ZX_STATUS_OK) {
        markUnavailable(obj, key, s);
        return;
    }
    json values = json::array();
    for (std::uint32_t i = 0; i < v.count && i < 4; ++i) {
        values.push_back(v.values[i]);
    }
    obj[key] = values;
}

const ClockDomain kClockDomains[3] = {
    {"gpu", "GPU clock, MHz", ZXGetPerformanceLevelGPUClocks, ZXGetPerformanceDefaultGPUClocks, ZXGetGPUClockInfoEx},
    {"memory", "Memory clock, MHz", ZXGetPerformanceLevelMemoryClocks, ZXGetPerformanceDefaultMemoryClocks,
     ZXGetMemoryClockInfoEx},
    {"shader", "Shader clock, MHz", ZXGetPerformanceLevelShaderClocks, ZXGetPerformanceDefaultShaderClocks,
     ZXGetShaderClockInfoEx},
};

namespace {

constexpr const char* kUnknownUntilSet = "unknown until set";

// A voltage in mV; 0 is what a card that keeps its voltage only where the
// library stores it reports before the first set: unknown, not 0 mV.
void putVoltage(json& obj, const std::string& key, ZXStatus s, std::uint32_t mv) {
    putValue(obj, key, s, mv);
    if (s == ZX_STATUS_OK && mv == 0) {
        obj[key] = nullptr;
        obj["unavailable"][key] = kUnknownUntilSet;
    }
}

// GPU usage; NVIDIA drivers never tell it, which is no failure.
void putUsage(json& obj, std::uint32_t gpu) {
    std::uint32_t v = 0;
    const ZXStatus s = ZXGetUsage(gpu, &v);
    putValue(obj, "usage_percent", s, v);
    ZXAdapterInfoRecord a{};
    if (s == ZX_STATUS_FAILED && ZXGetAdapterInfo(&a) == ZX_STATUS_OK && a.count > 0 &&
        a.kind[0] == ZX_VENDOR_NVIDIA) {
        obj["unavailable"]["usage_percent"] = "not offered by this driver";
    }
}

// Per clock domain: the clock of each level, its defaults and ranges.
json clocksJson(std::uint32_t gpu) {
    json clocks;
    for (const ClockDomain& d : kClockDomains) {
        json c;
        ZXLevelValues cur{}, def{};
        const ZXStatus sc = d.levels(gpu, &cur);
        putLevels(c, "mhz", sc, cur);
        const ZXStatus sd = d.defaults(gpu, &def);
        putLevels(c, "default_mhz", sd, def);
        const std::uint32_t n = sc == ZX_STATUS_OK ? cur.count : sd == ZX_STATUS_OK ? def.count : 0;
        json ranges = json::array();
        for (std::uint32_t level = 0; level < n && level < 4; ++level) {
            ZXRangeInfo r{};
            const ZXStatus sr = d.infoEx(gpu, level, &r);
            ranges.push_back(sr == ZX_STATUS_OK ? rangeJson(r) : json(nullptr));
            if (sr != ZX_STATUS_OK && !c["unavailable"].contains("ranges")) {
                c["unavailable"]["ranges"] = ZXStatusName(sr);
            }
        }
        c["ranges"] = ranges;
        clocks[d.key] = c;
    }
    return clocks;
}

json voltageJson(std::uint32_t gpu) {
    json volt;
    std::uint32_t v = 0;
    std::uint32_t w = 0;
    ZXStatus s = ZXGetCurrentVoltage(gpu, &v, &w);
    putVoltage(volt, "current", s, v);
    putValue(volt, "current_vid_level", s == ZX_STATUS_OK && v == 0 ? ZX_STATUS_FAILED : s, w);
    if (s == ZX_STATUS_OK && v == 0) {
        volt["unavailable"]["current_vid_level"] = kUnknownUntilSet;
    }
    ZXLevelValues lv{};
    s = ZXGetPerformanceLevelVoltages(gpu, &lv);
    putLevels(volt, "levels", s, lv);

    s = ZXGetPerformanceDefaultVoltages(gpu, &lv);
    putLevels(volt, "defaults", s, lv);
    ZXRangeInfo r{};
    s = ZXGetVoltageInfo(gpu, &r);
    putRange(volt, "range", s, r);
    s = ZXGet2DDefaultVoltage(gpu, &v);
    putValue(volt, "default_2d", s, v);
    return volt;
}

// A regulator level: current, default and range.
json levelJson(std::uint32_t gpu, ZXStatus (*current)(std::uint32_t, std::uint32_t*),
               ZXStatus (*byDefault)(std::uint32_t, std::uint32_t*), ZXStatus (*range)(std::uint32_t, ZXRangeInfo*)) {
    json j;
    std::uint32_t v = 0;
    ZXStatus s = current(gpu, &v);
    putValue(j, "level", s, v);
    s = byDefault(gpu, &v);
    putValue(j, "default", s, v);
    ZXRangeInfo r{};
    s = range(gpu, &r);
    putRange(j, "range", s, r);
    return j;
}

}  // namespace

json gpuStatus(std::uint32_t gpu) {
    json g;
    g["gpu"] = gpu;
    std::uint32_t v = 0;
    ZXStatus s = ZXGetTemperature(gpu, &v);
    putValue(g, "temperature_c", s, v);
    putUsage(g, gpu);
    s = ZXGetCurrentPerformanceLevel(gpu, &v);
    putValue(g, "current_level", s, v);
    g["clocks"] = clocksJson(gpu);
    g["voltage"] = voltageJson(gpu);
    g["memory_voltage"] =
        levelJson(gpu, ZXGetCurrentMemoryVoltageLevel, ZXGetMemoryVoltageDefault, ZXGetMemoryVoltageInfo);
    g["pwm"] = levelJson(gpu, ZXGetCurrentPWMClockLevel, ZXGetPWMClockDefault, ZXGetPWMClockInfo);

    json dac;
    s = ZXGetDACLevel(gpu, &v);
    putValue(dac, "level", s, v);
    g["dac"] = dac;

    json fan;
    s = ZXGetFanSpeed(gpu, 0, &v, 0);
    putValue(fan, "percent", s, v);
    ZXRangeInfo r{};
    s = ZXGetFanSpeedInfo(gpu, 0, &r, 0);
    putRange(fan, "range", s, r);
    g["fan"] = fan;
    return g;
}

json statusJson(const std::vector<std::uint32_t>& gpus) {
    json j;
    j["schema"] = kJsonSchema;
    j["simulated"] = simulatedJson();
    j["gpus"] = json::array();
    for (std::uint32_t g : gpus) {
        j["gpus"].push_back(gpuStatus(g));
    }
    return j;
}

json simulatedJson() {
    const char* sim = std::getenv(kSimulatedEnv);
    return sim != nullptr && *sim != '\0' ? json(sim) : json(nullptr);
}

std::string libraryFile() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&ZXInitLib), &info) != 0 && info.dli_fname != nullptr) {
        std::error_code ec;
        auto p = std::filesystem::canonical(info.dli_fname, ec);
        return ec ? std::string(info.dli_fname) : p.string();
    }
    return {};
}

const char* vendorName(std::uint32_t kind) {
    return kind == ZX_VENDOR_ATI ? "ATI" : kind == ZX_VENDOR_NVIDIA ? "NVIDIA" : "none";
}

const char* lockText(std::uint32_t status) {
    return status == ZX_LOCK_HELD_HERE ? "held by this process"
           : status == ZX_LOCK_HELD_ELSEWHERE ? "held by another process"
                                              : "unlocked";
}

namespace {

// The folders the library looks for card data files in, in its documented
// order (docs/zxctl.md, "Card data files"); the public interface does not
// tell which file it read, so zxctl follows the same order to say it.
std::vector<std::string> dataFolders() {
    std::vector<std::string> out;
    const auto add = [&out](std::string folder) {
        while (folder.size() > 1 && folder.back() == '/') {
            folder.pop_back();
        }
        if (!folder.empty() && folder[0] == '/' && std::find(out.begin(), out.end(), folder + "/") == out.end()) {
            out.push_back(folder + "/");
        }
    };
    const auto env = [](const char* name) {
        const char* v = std::getenv(name);
        return v != nullptr ? std::string(v) : std::string();
    };
    add(env("ZXDISPLAY_DATA_DIR"));
    std::error_code ec;
    add(std::filesystem::read_symlink("/proc/self/exe", ec).parent_path().string());
    const std::string dataHome = env("XDG_DATA_HOME");
    add(!dataHome.empty() && dataHome[0] == '/' ? dataHome + "/zxdisplaylib"
        : env("HOME").empty()                   ? std::string()
                                                : env("HOME") + "/.local/share/zxdisplaylib");
    std::istringstream dirs(env("XDG_DATA_DIRS").empty() ? "/usr/local/share:/usr/share" : env("XDG_DATA_DIRS"));
    for (std::string dir; std::getline(dirs, dir, ':');) {
        add(dir.empty() || dir[0] != '/' ? std::string() : dir + "/zxdisplaylib");
    }
    const std::string lib = libraryFile();
    add(lib.empty() ? std::string() : lib.substr(0, lib.rfind('/') + 1) + ZXCTL_DATADIR_FROM_LIBDIR + "/zxdisplaylib");
    return out;
}

}  // namespace

std::string cardDataFile(std::uint32_t kind) {
    const char* name = kind == ZX_VENDOR_ATI ? "ATIVGA.DAT" : "NVVGA.DAT";
    for (const std::string& folder : dataFolders()) {
        std::ifstream in(folder + name, std::ios::binary);
        if (in.good() && !std::filesystem::is_directory(folder + name)) {
            return folder + name;
        }
    }
    return {};
}

json infoJson() {
    json j;
    j["schema"] = kJsonSchema;
    const std::string file = libraryFile();
    const auto dot = file.rfind(".so.");
    j["library"] = {{"version", dot == std::string::npos ? std::string() : file.substr(dot + 4)},
                    {"header_version", ZXDISPLAY_VERSION_STRING},
                    {"file", file}};
    j["simulated"] = simulatedJson();
    ZXAdapterInfoRecord a{};
    ZXGetAdapterInfo(&a);
    j["adapters"] = json::array();
    for (std::uint32_t i = 0; i < a.count && i < 3; ++i) {
        const std::string cardId = std::string(a.vendorId[i]) + "_" + a.deviceId[i] + "_" + a.subsystemId[i] + "_" +
                                   a.subsystemVendorId[i];
        j["adapters"].push_back({{"index", i},
                                 {"kind", vendorName(a.kind[i])},
                                 {"vendor_id", a.vendorId[i]},
                                 {"device_id", a.deviceId[i]},
                                 {"subsystem_id", a.subsystemId[i]},
                                 {"subsystem_vendor_id", a.subsystemVendorId[i]},
                                 {"card_id", cardId}});
    }
    j["backend"] = vendorName(a.count > 0 ? a.kind[0] : 0);
    const std::string dataFile = a.count > 0 ? cardDataFile(a.kind[0]) : std::string();
    j["data_file"] = dataFile.empty() ? json(nullptr) : json(dataFile);
    std::uint32_t v = 0;
    ZXStatus s = ZXGetGpuCount(&v);
    putValue(j, "gpu_count", s, v);
    s = ZXGetControlMode(&v);
    static const std::pair<std::uint32_t, const char*> kModes[] = {
        {ZX_CONTROL_GPU_VOLTAGE, "gpu-voltage"},     {ZX_CONTROL_GPU_CLOCK, "gpu-clock"},
        {ZX_CONTROL_MEMORY_VOLTAGE, "memory-voltage"}, {ZX_CONTROL_MEMORY_CLOCK, "memory-clock"},
        {ZX_CONTROL_SHADER_CLOCK, "shader-clock"},   {ZX_CONTROL_PWM_CLOCK, "pwm-clock"},
        {ZX_CONTROL_DAC_LEVEL, "dac-level"},         {ZX_CONTROL_SET_2D_AS_3D_CLOCK, "set-2d-as-3d-clock"}};
    if (s == ZX_STATUS_OK) {
        j["control_modes"] = json::array();
        for (const auto& [bit, name] : kModes) {
            if ((v & bit) != 0) {
                j["control_modes"].push_back(name);
            }
        }
    } else {
        markUnavailable(j, "control_modes", s);
    }
    ZXVgaInfoDescription desc{};
    s = ZXGetVGAInfoDescription(0, &desc);
    if (s == ZX_STATUS_OK) {
        j["descriptions"] = json::array();
        for (std::uint32_t i = 0; i < desc.count && i < 10; ++i) {
            j["descriptions"].push_back(std::string(desc.strings[i], strnlen(desc.strings[i], 40)));
        }
    } else {
        markUnavailable(j, "descriptions", s);
    }
    return j;
}

json watchSample(std::uint32_t gpu) {
    json j;
    // Local time with milliseconds, e.g. 2026-12-06T19:40:12.345+0100.
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    std::tm tm{};
    localtime_r(&ts.tv_sec, &tm);
    char date[32];
    char zone[8];
    char when[64];
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &tm);
    std::strftime(zone, sizeof zone, "%z", &tm);
    std::snprintf(when, sizeof when, "%s.%03ld%s", date, ts.tv_nsec / 1000000, zone);
    j["time"] = when;
    j["gpu"] = gpu;
    std::uint32_t v = 0;
    std::uint32_t w = 0;
    ZXStatus s = ZXGetTemperature(gpu, &v);
    putValue(j, "temperature_c", s, v);
    putUsage(j, gpu);
    const ZXStatus sl = ZXGetCurrentPerformanceLevel(gpu, &v);
    putValue(j, "current_level", sl, v);
    const std::uint32_t level = v;
    for (const ClockDomain& d : kClockDomains) {
        ZXLevelValues lv{};
        ZXStatus sc = sl != ZX_STATUS_OK ? sl : d.levels(gpu, &lv);
        if (sc == ZX_STATUS_OK && level >= lv.count) {
            sc = ZX_STATUS_FAILED;
        }
        putValue(j, std::string(d.key) + "_mhz", sc, sc == ZX_STATUS_OK ? lv.values[level] : 0);
    }
    s = ZXGetCurrentVoltage(gpu, &v, &w);
    putVoltage(j, "voltage", s, v);
    s = ZXGetFanSpeed(gpu, 0, &v, 0);
    putValue(j, "fan_percent", s, v);
    return j;
}

}  // namespace zxctl
