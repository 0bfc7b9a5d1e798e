// The command model shared by zxctl and zxctl serve (see commands.h).
#include "commands.h"

#include <dlfcn.h>

#include "simulate.h"

namespace zxctl {

int exitCodeFor(ZXStatus status) {
    switch (status) {
    case ZX_STATUS_OK: return kExitOk;
    case ZX_STATUS_NOT_SUPPORTED: return kExitNotSupported;
    case ZX_STATUS_NOT_INITIALISED: return kExitNoCard;
    case ZX_STATUS_LOCKED_BY_OTHER: return kExitLocked;
    case ZX_STATUS_ADAPTER_MISMATCH: return kExitMismatch;
    default: return kExitFailed;
    }
}

std::optional<std::uint32_t> parseDecimal(const std::string& word) {
    if (word.empty() || word.size() > 20 || word.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    std::uint64_t v = 0;
    for (char c : word) {
        v = v * 10 + static_cast<std::uint64_t>(c - '0');
        if (v > 0xFFFFFFFFu) {
            return std::nullopt;
        }
    }
    return static_cast<std::uint32_t>(v);
}

// ---- Start-up ----------------------------------------------------------------

namespace {

// The driver library the library loads for a vendor, by its name.
const char* driverLibrary(std::uint32_t kind) {
    return kind == ZX_VENDOR_NVIDIA ? "libnvidia-api.so.1" : kind == ZX_VENDOR_ATI ? "libatipdlxx.so" : nullptr;
}

// What was found and why it could not be used, for the start-up message.
std::string whatWasFound() {
    ZXAdapterInfoRecord a{};
    if (ZXGetAdapterInfo(&a) != ZX_STATUS_OK || a.count == 0) {
        return "no supported graphics card was found";
    }
    std::string cards;
    for (std::uint32_t i = 0; i < a.count && i < 3; ++i) {
        cards += (cards.empty() ? "" : ", ") + std::string(a.kind[i] == ZX_VENDOR_ATI ? "ATI " : "NVIDIA ") +
                 a.vendorId[i] + "_" + a.deviceId[i] + "_" + a.subsystemId[i] + "_" + a.subsystemVendorId[i];
    }
    std::string text = "found " + cards;
    const char* driver = driverLibrary(a.kind[0]);
    if (driver == nullptr) {
        return text;
    }
    void* handle = ::dlopen(driver, RTLD_LAZY | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* why = ::dlerror();
        return text + "; the driver library " + driver + " could not be loaded (" + (why ? why : "unknown") + ")";
    }
    ::dlclose(handle);
    return text + "; the driver library " + driver + " loaded but did not start (no card it drives, or the card "
                  "data file is missing or unreadable: see 'zxctl info')";
}

}  // namespace

std::optional<StartFailure> startLibrary() {
    const ZXStatus s = ZXInitLib();
    if (s == ZX_STATUS_OK) {
        return std::nullopt;
    }
    if (s == ZX_STATUS_ADAPTER_MISMATCH) {
        return StartFailure{kExitMismatch, std::string("cannot start the library: ") + ZXStatusName(s)};
    }
    if (inSimulation()) {
        return StartFailure{kExitSimulation, "the simulated machine's saved state cannot be used (" +
                                                 whatWasFound() + "); run again with --reset-simulation to start "
                                                 "it afresh"};
    }
    return StartFailure{kExitNoCard, "cannot start the library: " + whatWasFound()};
}

Outcome usageOutcome(const std::string& message) { return {kExitUsage, ZX_STATUS_OK, message, message, {}}; }

Outcome refusedOutcome(const std::string& subject, ZXStatus status) {
    const char* why = status == ZX_STATUS_NOT_SUPPORTED ? "not offered by this card" : ZXStatusName(status);
    return {exitCodeFor(status), status, subject + ": " + why, subject, {}};
}

std::uint32_t gpuCount() {
    std::uint32_t n = 0;
    return ZXGetGpuCount(&n) == ZX_STATUS_OK ? n : 0;
}

std::optional<Outcome> checkGpu(std::uint32_t gpu) {
    const std::uint32_t count = gpuCount();
    if (gpu < count) {
        return std::nullopt;
    }
    return usageOutcome("GPU " + std::to_string(gpu) + " does not exist (this machine has " + std::to_string(count) +
                        (count == 1 ? " GPU)" : " GPUs)"));
}

// ---- Setters -----------------------------------------------------------------

namespace {

// How a setting reaches the library. range: what the card takes; levels: how
// many performance levels the setting has (null: none); set; read: the value
// the card reports now.
struct SettingCalls {
    std::function<ZXStatus(const SetRequest&, ZXRangeInfo*)> range;
    std::function<ZXStatus(const SetRequest&, ZXLevelValues*)> levels;
    std::function<ZXStatus(const SetRequest&)> set;
    std::function<ZXStatus(const SetRequest&, std::uint32_t*)> read;
};

using LevelsFn = ZXStatus (*)(std::uint32_t, ZXLevelValues*);
using InfoExFn = ZXStatus (*)(std::uint32_t, std::uint32_t, ZXRangeInfo*);
using SetClockFn = ZXStatus (*)(std::uint32_t, std::uint32_t, std::uint32_t);

SettingCalls clockCalls(LevelsFn levels, InfoExFn info, SetClockFn set) {
    return {[info](const SetRequest& q, ZXRangeInfo* r) { return info(q.gpu, q.level.value_or(0), r); },
            [levels](const SetRequest& q, ZXLevelValues* v) { return levels(q.gpu, v); },
            [set](const SetRequest& q) { return set(q.gpu, q.level.value_or(0), q.value); },
            [levels](const SetRequest& q, std::uint32_t* out) {
                ZXLevelValues v{};
                const ZXStatus s = levels(q.gpu, &v);
                *out = q.level.value_or(0) < 4 ? v.values[q.level.value_or(0)] : 0;
                return s;
            }};
}

using RangeFn = ZXStatus (*)(std::uint32_t, ZXRangeInfo*);
using LevelSetFn = ZXStatus (*)(std::uint32_t, std::uint32_t);
using LevelGetFn = ZXStatus (*)(std::uint32_t, std::uint32_t*);

SettingCalls regulatorCalls(RangeFn range, LevelSetFn set, LevelGetFn get) {
    return {[range](const SetRequest& q, ZXRangeInfo* r) { return range(q.gpu, r); }, nullptr,
            [set](const SetRequest& q) { return set(q.gpu, q.value); },
            [get](const SetRequest& q, std::uint32_t* out) { return get(q.gpu, out); }};
}

// The DAC level has no range getter: it is off (0) or on (1); the card must
// offer it, which its getter tells.
ZXStatus dacRange(std::uint32_t gpu, ZXRangeInfo* r) {
    std::uint32_t level = 0;
    const ZXStatus s = ZXGetDACLevel(gpu, &level);
    *r = ZXRangeInfo{1, 0, 1};
    return s;
}

// Every level's voltage when no level is named: the first that differs from
// the request, else the request.
ZXStatus readVoltage(const SetRequest& q, std::uint32_t* out) {
    ZXLevelValues v{};
    const ZXStatus s = ZXGetPerformanceLevelVoltages(q.gpu, &v);
    *out = q.value;
    for (std::uint32_t i = 0; i < v.count && i < 4; ++i) {
        if ((!q.level || *q.level == i) && v.values[i] != q.value) {
            *out = v.values[i];
            break;
        }
    }
    return s;
}

SettingCalls voltageCalls() {
    return {[](const SetRequest& q, ZXRangeInfo* r) { return ZXGetVoltageInfo(q.gpu, r); },
            [](const SetRequest& q, ZXLevelValues* v) { return ZXGetPerformanceLevelVoltages(q.gpu, v); },
            [](const SetRequest& q) {
                return q.level ? ZXSetPerformanceVoltageLevel(q.gpu, *q.level, q.value)
                               : ZXSetCurrentVoltageLevel(q.gpu, q.value);
            },
            readVoltage};
}

SettingCalls fanCalls() {
    return {[](const SetRequest& q, ZXRangeInfo* r) { return ZXGetFanSpeedInfo(q.gpu, q.fan.value_or(0), r, 0); },
            nullptr,
            [](const SetRequest& q) {
                return q.fanAuto ? ZXSetFanSpeedDefault(q.gpu, q.fan.value_or(0), 0)
                                 : ZXSetFanSpeed(q.gpu, q.fan.value_or(0), q.value, 0);
            },
            [](const SetRequest& q, std::uint32_t* out) { return ZXGetFanSpeed(q.gpu, q.fan.value_or(0), out, 0); }};
}

const SettingCalls& callsOf(const std::string& name) {
    static const std::vector<std::pair<std::string, SettingCalls>> calls = {
        {"gpu-clock", clockCalls(ZXGetPerformanceLevelGPUClocks, ZXGetGPUClockInfoEx, ZXSetPerformanceLevelGPUClock)},
        {"memory-clock", clockCalls(ZXGetPerformanceLevelMemoryClocks, ZXGetMemoryClockInfoEx,
                                    ZXSetPerformanceLevelMemoryClock)},
        {"shader-clock", clockCalls(ZXGetPerformanceLevelShaderClocks, ZXGetShaderClockInfoEx,
                                    ZXSetPerformanceLevelShaderClock)},
        {"voltage", voltageCalls()},
        {"memory-voltage",
         regulatorCalls(ZXGetMemoryVoltageInfo, ZXSetCurrentMemoryVoltageLevel, ZXGetCurrentMemoryVoltageLevel)},
        {"pwm", regulatorCalls(ZXGetPWMClockInfo, ZXSetCurrentPWMClockLevel, ZXGetCurrentPWMClockLevel)},
        {"dac", regulatorCalls(dacRange, ZXSetDACLevel, ZXGetDACLevel)},
        {"fan", fanCalls()},
    };
    for (const auto& [n, c] : calls) {
        if (n == name) {
            return c;
        }
    }
    return calls.front().second;  // not reached: names come from settings()
}

std::string withUnit(std::uint32_t value, const Setting& s) {
    return std::to_string(value) + (*s.unit != '\0' ? std::string(" ") + s.unit : "");
}

std::string rangeWords(const ZXRangeInfo& r, const Setting& s) {
    std::string words = std::to_string(r.minimum) + "-" + withUnit(r.maximum, s);
    return r.step > 1 ? words + " in steps of " + std::to_string(r.step) : words;
}

bool takes(const ZXRangeInfo& r, std::uint32_t v) {
    return v >= r.minimum && v <= r.maximum && (r.step <= 1 || (v - r.minimum) % r.step == 0);
}

// What the set is called in messages: "GPU clock of level 1", "fan 0".
std::string subjectWords(const SetRequest& q, const Setting& s) {
    std::string words = s.label;
    if (s.needsLevel || (q.what == "voltage" && q.level)) {
        words += " of level " + std::to_string(*q.level);
    } else if (q.what == "voltage") {
        words += " of every level";
    }
    return words;
}

// The fan index: on NVIDIA cards only fan 0 is addressed (the index is not
// used); elsewhere the card must report a range for it.
std::optional<Outcome> checkFanIndex(const SetRequest& q) {
    const std::uint32_t fan = q.fan.value_or(0);
    ZXAdapterInfoRecord a{};
    ZXGetAdapterInfo(&a);
    ZXRangeInfo r{};
    const bool nvidia = a.count > 0 && a.kind[0] == ZX_VENDOR_NVIDIA;
    if (fan != 0 && (nvidia || ZXGetFanSpeedInfo(q.gpu, fan, &r, 0) != ZX_STATUS_OK)) {
        return usageOutcome("set fan: GPU " + std::to_string(q.gpu) + " has no fan " + std::to_string(fan) +
                            (nvidia ? " (NVIDIA cards are addressed as fan 0)" : ""));
    }
    return std::nullopt;
}

std::optional<Outcome> checkLevel(const SetRequest& q, const Setting& s, const SettingCalls& c) {
    if (!q.level) {
        return s.needsLevel ? std::optional(usageOutcome("set " + q.what + ": a performance level is needed"))
                            : std::nullopt;
    }
    if (!c.levels) {
        return usageOutcome("set " + q.what + ": this setting has no performance levels");
    }
    ZXLevelValues v{};
    if (const ZXStatus st = c.levels(q, &v); st != ZX_STATUS_OK) {
        return refusedOutcome("set " + q.what + " (GPU " + std::to_string(q.gpu) + ")", st);
    }
    if (q.what == "voltage" && v.count <= 1) {
        return usageOutcome("set voltage: GPU " + std::to_string(q.gpu) +
                            " has one GPU voltage for every level; leave out --level");
    }
    if (*q.level >= v.count) {
        return usageOutcome("set " + q.what + ": level " + std::to_string(*q.level) + " does not exist (GPU " +
                            std::to_string(q.gpu) + " has levels 0-" + std::to_string(v.count - 1) + ")");
    }
    return std::nullopt;
}

}  // namespace

const std::vector<Setting>& settings() {
    static const std::vector<Setting> all = {
        {"gpu-clock", "GPU clock", true, "MHz"},
        {"memory-clock", "memory clock", true, "MHz"},
        {"shader-clock", "shader clock", true, "MHz"},
        {"voltage", "GPU voltage", false, "mV"},
        {"memory-voltage", "memory voltage level", false, ""},
        {"pwm", "PWM clock level", false, ""},
        {"dac", "DAC level", false, ""},
        {"fan", "fan", false, "%"},
    };
    return all;
}

const Setting* findSetting(const std::string& name) {
    for (const Setting& s : settings()) {
        if (name == s.name) {
            return &s;
        }
    }
    return nullptr;
}

std::string settingNames() {
    std::string names;
    for (const Setting& s : settings()) {
        names += (names.empty() ? "" : ", ") + std::string(s.name);
    }
    return names;
}

std::optional<Outcome> checkSet(const SetRequest& q) {
    const Setting* s = findSetting(q.what);
    if (s == nullptr) {
        return usageOutcome("unknown setting '" + q.what + "' (" + settingNames() + ")");
    }
    if (auto bad = checkGpu(q.gpu)) {
        return bad;
    }
    const SettingCalls& c = callsOf(q.what);
    if (q.what == "fan") {
        if (auto bad = checkFanIndex(q)) {
            return bad;
        }
    }
    // The level first: a level the card lacks has no range either.
    if (auto bad = checkLevel(q, *s, c)) {
        return bad;
    }
    ZXRangeInfo r{};
    if (const ZXStatus st = c.range(q, &r); st != ZX_STATUS_OK) {
        return refusedOutcome("set " + q.what + " (GPU " + std::to_string(q.gpu) + ")", st);
    }
    if (!q.fanAuto && !takes(r, q.value)) {
        return usageOutcome("set " + q.what + ": " + withUnit(q.value, *s) + " is not a value GPU " +
                            std::to_string(q.gpu) + " takes (" + rangeWords(r, *s) + ")");
    }
    return std::nullopt;
}

Outcome performSet(const SetRequest& q) {
    const Setting& s = *findSetting(q.what);
    const SettingCalls& c = callsOf(q.what);
    const std::string gpu = "GPU " + std::to_string(q.gpu);
    const std::string stamp = simulatedStateStamp();
    if (const ZXStatus st = c.set(q); st != ZX_STATUS_OK) {
        return refusedOutcome("set " + q.what + " (" + gpu + ")", st);
    }
    if (auto unsaved = unsavedSimulatedChange(stamp)) {
        return {kExitSimulation, ZX_STATUS_OK, "set " + q.what + " (" + gpu + "): " + *unsaved, "set " + q.what, {}};
    }
    if (q.fanAuto) {
        return {kExitOk, ZX_STATUS_OK, gpu + ": fan handed back to the driver", "", {}};
    }
    std::uint32_t now = 0;
    if (c.read(q, &now) != ZX_STATUS_OK) {
        return {kExitOk, ZX_STATUS_OK,
                gpu + ": " + subjectWords(q, s) + " set to " + withUnit(q.value, s) + " (the card does not report it)",
                "", {}};
    }
    if (now != q.value) {
        return {kExitReadBack, ZX_STATUS_OK,
                "set " + q.what + " (" + gpu + "): asked for " + withUnit(q.value, s) + ", the card reports " +
                    withUnit(now, s),
                "set " + q.what, now};
    }
    return {kExitOk, ZX_STATUS_OK, gpu + ": " + subjectWords(q, s) + " set to " + withUnit(now, s), "", now};
}

std::optional<std::uint32_t> readSetting(const SetRequest& q) {
    if (q.what == "voltage") {
        ZXLevelValues v{};
        if (ZXGetPerformanceLevelVoltages(q.gpu, &v) != ZX_STATUS_OK || v.count == 0) {
            return std::nullopt;
        }
        const std::uint32_t first = v.values[q.level.value_or(0) < 4 ? q.level.value_or(0) : 0];
        for (std::uint32_t i = 0; !q.level && i < v.count && i < 4; ++i) {
            if (v.values[i] != first) {
                return std::nullopt;
            }
        }
        return first != 0 ? std::optional(first) : std::nullopt;
    }
    std::uint32_t now = 0;
    return findSetting(q.what) != nullptr && callsOf(q.what).read(q, &now) == ZX_STATUS_OK ? std::optional(now)
                                                                                         : std::nullopt;
}

Outcome applySet(const SetRequest& q) {
    if (auto bad = checkSet(q)) {
        return *bad;
    }
    return performSet(q);
}

// ---- Resets ------------------------------------------------------------------

namespace {

const std::vector<ResetStep>& allResetSteps() {
    static const std::vector<ResetStep> steps = {
        {"gpu-clock", "GPU clocks", ZXSetGPUClockDefault},
        {"memory-clock", "memory clocks", ZXSetMemoryClockDefault},
        {"shader-clock", "shader clocks", ZXSetShaderClockDefault},
        {"voltage", "GPU voltage", ZXSetVoltageDefault},
        {"memory-voltage", "memory voltage level", ZXSetMemoryVoltageDefault},
        {"pwm", "PWM clock level", ZXSetPWMClockDefault},
        {"fan", "fan", [](std::uint32_t g) { return ZXSetFanSpeedDefault(g, 0, 0); }},
    };
    return steps;
}

}  // namespace

std::vector<const ResetStep*> resetSteps(const std::string& what) {
    std::vector<const ResetStep*> out;
    for (const ResetStep& st : allResetSteps()) {
        const std::string group = st.group;
        if (what == "all" || what == group || (what == "clocks" && group.ends_with("-clock"))) {
            out.push_back(&st);
        }
    }
    return out;
}

std::vector<std::string> resetWords() {
    std::vector<std::string> words = {"clocks"};
    for (const ResetStep& st : allResetSteps()) {
        words.emplace_back(st.group);
    }
    words.emplace_back("all");
    return words;
}

std::vector<ResetResult> applyReset(std::uint32_t gpu, const std::vector<const ResetStep*>& steps) {
    std::vector<ResetResult> results;
    const std::string where = "GPU " + std::to_string(gpu);
    for (const ResetStep* st : steps) {
        const std::string stamp = simulatedStateStamp();
        const ZXStatus s = st->run(gpu);
        ResetResult r{st, {kExitOk, s, where + ": " + st->label + " back to default", "", {}}};
        if (s == ZX_STATUS_NOT_SUPPORTED && steps.size() > 1) {
            r.skipped = true;
            r.outcome.message = where + ": " + st->label + " skipped (not offered by this card)";
        } else if (s != ZX_STATUS_OK) {
            r.outcome = refusedOutcome(std::string("reset ") + st->label + " (" + where + ")", s);
        } else if (auto unsaved = unsavedSimulatedChange(stamp)) {
            r.outcome = {kExitSimulation, s, std::string("reset ") + st->label + " (" + where + "): " + *unsaved,
                         std::string("reset ") + st->label, {}};
        }
        results.push_back(r);
        if (s == ZX_STATUS_LOCKED_BY_OTHER) {
            break;
        }
    }
    return results;
}

}  // namespace zxctl
