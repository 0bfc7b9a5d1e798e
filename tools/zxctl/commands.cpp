// The command model shared by zxctl and zxctl serve (see commands.h).
#include "commands.h"

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

std::optional<StartFailure> startLibrary() {
    const ZXStatus s = ZXInitLib();
    if (s == ZX_STATUS_OK) {
        return std::nullopt;
    }
    if (s == ZX_STATUS_ADAPTER_MISMATCH) {
        return StartFailure{kExitMismatch, std::string("cannot start the library: ") + ZXStatusName(s)};
    }
    return StartFailure{kExitNoCard, std::string("cannot start the library: no supported card was found, or its "
                                                 "driver library could not be used (") +
                                         ZXStatusName(s) + ")"};
}

Outcome usageOutcome(const std::string& message) { return {kExitUsage, ZX_STATUS_OK, message, message}; }

Outcome refusedOutcome(const std::string& subject, ZXStatus status) {
    return {exitCodeFor(status), status, subject + ": " + ZXStatusName(status), subject};
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

using RangeFn = ZXStatus (*)(std::uint32_t gpu, std::uint32_t level, ZXRangeInfo*);
using SetFn = ZXStatus (*)(std::uint32_t gpu, std::uint32_t level, std::uint32_t value);

// How each setting reaches the library; fan and voltage have forms of their
// own and are handled apart.
struct SettingCalls {
    SetFn set;
    RangeFn range;  // null: 0-255
};

const SettingCalls* callsOf(const std::string& name) {
    static const SettingCalls gpuClock{ZXSetPerformanceLevelGPUClock, ZXGetGPUClockInfoEx};
    static const SettingCalls memoryClock{ZXSetPerformanceLevelMemoryClock, ZXGetMemoryClockInfoEx};
    static const SettingCalls shaderClock{ZXSetPerformanceLevelShaderClock, ZXGetShaderClockInfoEx};
    static const SettingCalls memoryVoltage{
        [](std::uint32_t g, std::uint32_t, std::uint32_t v) { return ZXSetCurrentMemoryVoltageLevel(g, v); },
        [](std::uint32_t g, std::uint32_t, ZXRangeInfo* r) { return ZXGetMemoryVoltageInfo(g, r); }};
    static const SettingCalls pwm{
        [](std::uint32_t g, std::uint32_t, std::uint32_t v) { return ZXSetCurrentPWMClockLevel(g, v); },
        [](std::uint32_t g, std::uint32_t, ZXRangeInfo* r) { return ZXGetPWMClockInfo(g, r); }};
    static const SettingCalls dac{[](std::uint32_t g, std::uint32_t, std::uint32_t v) { return ZXSetDACLevel(g, v); },
                                  nullptr};
    if (name == "gpu-clock") return &gpuClock;
    if (name == "memory-clock") return &memoryClock;
    if (name == "shader-clock") return &shaderClock;
    if (name == "memory-voltage") return &memoryVoltage;
    if (name == "pwm") return &pwm;
    if (name == "dac") return &dac;
    return nullptr;
}

std::string rangeWords(const ZXRangeInfo& r) { return std::to_string(r.minimum) + "-" + std::to_string(r.maximum); }

bool outside(const ZXRangeInfo& r, std::uint32_t v) { return v < r.minimum || v > r.maximum; }

Outcome outsideRange(const std::string& what, std::uint32_t value, const std::string& range) {
    return usageOutcome("set " + what + ": " + std::to_string(value) + " is outside the card's range " + range);
}

Outcome finish(const SetRequest& q, ZXStatus s, const std::string& done) {
    if (s != ZX_STATUS_OK) {
        return refusedOutcome("set " + q.what + " (GPU " + std::to_string(q.gpu) + ")", s);
    }
    return {kExitOk, s, "GPU " + std::to_string(q.gpu) + ": " + done, ""};
}

Outcome setFan(const SetRequest& q) {
    const std::uint32_t fan = q.fan.value_or(0);
    if (q.fanAuto) {
        return finish(q, ZXSetFanSpeedDefault(q.gpu, fan, 0), "fan handed back to the driver");
    }
    ZXRangeInfo r{};
    if (q.value > 100) {
        return outsideRange(q.what, q.value, "0-100");
    }
    if (ZXGetFanSpeedInfo(q.gpu, fan, &r, 0) == ZX_STATUS_OK && outside(r, q.value)) {
        return outsideRange(q.what, q.value, rangeWords(r));
    }
    return finish(q, ZXSetFanSpeed(q.gpu, fan, q.value, 0), "fan set to " + std::to_string(q.value) + " %");
}

Outcome setVoltage(const SetRequest& q) {
    if (q.level && *q.level > 3) {
        return usageOutcome("set voltage: the performance level must be 0-3");
    }
    ZXRangeInfo r{};
    if (ZXGetVoltageInfo(q.gpu, &r) == ZX_STATUS_OK && outside(r, q.value)) {
        return outsideRange(q.what, q.value, rangeWords(r));
    }
    const ZXStatus s = q.level ? ZXSetPerformanceVoltageLevel(q.gpu, *q.level, q.value)
                               : ZXSetCurrentVoltageLevel(q.gpu, q.value);
    return finish(q, s,
                  (q.level ? "GPU voltage of level " + std::to_string(*q.level)
                           : std::string("GPU voltage of every level")) +
                      " set to " + std::to_string(q.value));
}

}  // namespace

const std::vector<Setting>& settings() {
    static const std::vector<Setting> all = {
        {"gpu-clock", "GPU clock", true, " MHz"},
        {"memory-clock", "memory clock", true, " MHz"},
        {"shader-clock", "shader clock", true, " MHz"},
        {"voltage", "GPU voltage", false, ""},
        {"memory-voltage", "memory voltage level", false, ""},
        {"pwm", "PWM clock level", false, ""},
        {"dac", "DAC level", false, ""},
        {"fan", "fan", false, " %"},
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

Outcome applySet(const SetRequest& q) {
    const Setting* setting = findSetting(q.what);
    if (setting == nullptr) {
        return usageOutcome("unknown setting '" + q.what + "' (" + settingNames() + ")");
    }
    if (auto bad = checkGpu(q.gpu)) {
        return *bad;
    }
    if (q.what == "fan") {
        return setFan(q);
    }
    if (q.what == "voltage") {
        return setVoltage(q);
    }
    const SettingCalls* calls = callsOf(q.what);
    if (setting->needsLevel && (!q.level || *q.level > 3)) {
        return usageOutcome("set " + q.what + ": a performance level, 0-3, is needed");
    }
    const std::uint32_t level = q.level.value_or(0);
    ZXRangeInfo r{};
    if (calls->range ? calls->range(q.gpu, level, &r) == ZX_STATUS_OK && outside(r, q.value) : q.value > 255) {
        return outsideRange(q.what, q.value, calls->range ? rangeWords(r) : std::string("0-255"));
    }
    return finish(q, calls->set(q.gpu, level, q.value),
                  std::string(setting->label) + (setting->needsLevel ? " of level " + std::to_string(level) : "") +
                      " set to " + std::to_string(q.value) + setting->unit);
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
    for (const ResetStep* st : steps) {
        const ZXStatus s = st->run(gpu);
        const std::string where = " (GPU " + std::to_string(gpu) + ")";
        ResetResult r{st, {kExitOk, s, "GPU " + std::to_string(gpu) + ": " + st->label + " back to default", ""}};
        if (s == ZX_STATUS_NOT_SUPPORTED && steps.size() > 1) {
            r.skipped = true;
            r.outcome.message = "GPU " + std::to_string(gpu) + ": " + st->label + " skipped";
        } else if (s != ZX_STATUS_OK) {
            r.outcome = refusedOutcome(std::string("reset ") + st->label + where, s);
        }
        results.push_back(r);
        if (s == ZX_STATUS_LOCKED_BY_OTHER) {
            break;
        }
    }
    return results;
}

}  // namespace zxctl
