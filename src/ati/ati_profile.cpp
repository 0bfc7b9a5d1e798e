// The ATI card profile: limits and descriptions from the decoded card data
// file, and the card's defaults kept in the per-user store. On the first
// start for a card model the store is empty: the card's present values are
// taken as its defaults and stored, so that later starts still know them
// after the user has changed the card.
#include "ati/ati_profile.h"

#include <cstdio>
#include <cstring>

#include "core/decimal.h"
#include "core/profile_section.h"
#include "ati/ati_backend.h"

namespace zx::ati {

namespace {

// Three store values of levels 0 to 2: all taken from the store when all are
// there, else captured (the capture may fail) and written in order.
enum class Triple { Taken, Captured, NotCaptured, WriteFailed };

template <class Capture>
Triple readTriple(platform::Platform& os, const std::string& key, const char* const (&names)[3],
                  std::uint32_t (&out)[kProfileDefaultLevels], Capture capture) {
    std::int32_t stored[3] = {};
    bool all = true;
    for (int i = 0; i < 3 && all; ++i) {
        all = storeRead(os, key, names[i], &stored[i]);
    }
    if (all) {
        for (int i = 0; i < 3; ++i) {
            out[i] = static_cast<std::uint32_t>(stored[i]);
        }
        return Triple::Taken;
    }
    LevelValues card{};
    if (!capture(card)) {
        return Triple::NotCaptured;
    }
    for (int i = 0; i < 3; ++i) {
        out[i] = card.values[i];
        if (!storeWrite(os, key, names[i], static_cast<std::int32_t>(out[i]))) {
            return Triple::WriteFailed;
        }
    }
    return Triple::Captured;
}

}  // namespace

AtiCardProfile& atiProfile() {
    static AtiCardProfile profile;
    return profile;
}

std::string storeKeyOf(const char* cardId) { return std::string(kStoreKeyPrefix) + cardId; }

bool storeRead(platform::Platform& os, const std::string& key, const char* name, std::int32_t* value) {
    if (!os.storeKeyExists(key) && !os.storeCreateKey(key)) {
        return false;
    }
    // One spare NUL so that a full 260-byte value still ends.
    std::uint8_t buffer[kStoreValueSize + 1] = {};
    std::uint32_t type = 0;
    std::uint32_t size = kStoreValueSize;
    if (os.storeQuery(key, name, &type, buffer, &size) != platform::StoreResult::Ok) {
        return false;
    }
    *value = parseDecimal(reinterpret_cast<const char*>(buffer));
    return true;
}

bool storeWrite(platform::Platform& os, const std::string& key, const char* name, std::int32_t value) {
    if (!os.storeKeyExists(key) && !os.storeCreateKey(key)) {
        return false;
    }
    std::uint8_t block[kStoreValueSize] = {};
    std::snprintf(reinterpret_cast<char*>(block), sizeof block, "%d", static_cast<int>(value));
    return os.storeSet(key, name, platform::kRegExpandSz, block, kStoreValueSize);
}

StatusCode readAtiProfile(const char* cardId, const ini::Profile& profile) {
    platform::Platform& os = platform::current();
    AtiCardProfile& p = atiProfile();
    ProfileSection file(profile, cardId);
    AtiBackend ops;

    p.GPUVoltageMax = file.number("GPUVoltageMax");
    p.GPUVoltageMin = file.number("GPUVoltageMin");
    p.GPUVoltageStep = file.number("GPUVoltageStep");
    p.MemoryVoltageMax = file.number("MemoryVoltageMax");
    p.MemoryVoltageMin = file.number("MemoryVoltageMin");
    p.MemoryVoltageStep = file.number("MemoryVoltageStep");
    p.PWMClockMax = file.number("PWMClockMax");
    p.PWMClockMin = file.number("PWMClockMin");
    p.PWMClockStep = file.number("PWMClockStep");
    p.DACSupported = file.number("DACSupported");
    p.CanSet2DAs3DClock = file.number("CanSet2DAs3DClock");

    // Descriptions end at the first missing or empty one; a longer text is
    // cut to 39 characters.
    p.descriptionCount = file.descriptions(p.descriptions);

    const std::string key = storeKeyOf(cardId);

    // The profile's voltage scale (or the card's) is known from here on, so
    // captured voltages are on the scale the exports report.
    static const char* const kVoltages[3] = {"DefaultGPUVoltage0", "DefaultGPUVoltage1", "DefaultGPUVoltage2"};
    const Triple voltages = readTriple(os, key, kVoltages, p.DefaultGPUVoltage, [&](LevelValues& v) {
        return ops.getPerformanceLevelVoltages(0, &v) == StatusCode::Ok;
    });
    if (voltages == Triple::NotCaptured) {
        std::memset(p.DefaultGPUVoltage, 0, sizeof p.DefaultGPUVoltage);
    } else if (voltages == Triple::WriteFailed) {
        return StatusCode::Failed;
    }

    // Clocks are kept in the library's 10 kHz units; a card whose clocks
    // cannot be read fails the start.
    using ClockGetter = StatusCode (AtiBackend::*)(std::uint32_t, LevelValues*);
    auto clocksOf = [&ops](ClockGetter get) {
        return [&ops, get](LevelValues& v) {
            if ((ops.*get)(0, &v) != StatusCode::Ok) {
                return false;
            }
            for (std::uint32_t& value : v.values) {
                value *= 100;
            }
            return true;
        };
    };
    static const char* const kGpuClocks[3] = {"DefaultGPUClock0", "DefaultGPUClock1", "DefaultGPUClock2"};
    static const char* const kMemoryClocks[3] = {"DefaultMemoryClock0", "DefaultMemoryClock1",
                                                 "DefaultMemoryClock2"};
    auto captured = [](Triple t) { return t == Triple::Taken || t == Triple::Captured; };
    if (!captured(readTriple(os, key, kGpuClocks, p.DefaultGPUClock,
                             clocksOf(&AtiBackend::getPerformanceLevelGpuClocks))) ||
        !captured(readTriple(os, key, kMemoryClocks, p.DefaultMemoryClock,
                             clocksOf(&AtiBackend::getPerformanceLevelMemoryClocks)))) {
        return StatusCode::Failed;
    }

    // Memory voltage level: both values are kept, the 3D one is used. A card
    // whose level cannot be read gets no default (not level 0) and nothing is
    // stored.
    std::int32_t level2D = 0;
    std::int32_t level3D = 0;
    if (storeRead(os, key, "DefaultMemoryVoltageLevel2D", &level2D) &&
        storeRead(os, key, "DefaultMemoryVoltageLevel3D", &level3D)) {
        p.DefaultMemoryVoltageLevel = static_cast<std::uint32_t>(level3D);
        p.hasDefaultMemoryVoltageLevel = true;
    } else {
        std::uint32_t level = 0;
        p.hasDefaultMemoryVoltageLevel = false;
        if (ops.getCurrentMemoryVoltageLevel(0, &level) != StatusCode::Ok) {
            p.DefaultMemoryVoltageLevel = 0;
        } else {
            p.DefaultMemoryVoltageLevel = level;
            p.hasDefaultMemoryVoltageLevel = true;
            if (!storeWrite(os, key, "DefaultMemoryVoltageLevel2D", static_cast<std::int32_t>(level)) ||
                !storeWrite(os, key, "DefaultMemoryVoltageLevel3D", static_cast<std::int32_t>(level))) {
                return StatusCode::Failed;
            }
        }
    }

    std::int32_t pwm = 0;
    if (storeRead(os, key, "DefaultPWMLevel", &pwm)) {
        p.DefaultPWMLevel = static_cast<std::uint32_t>(pwm);
        p.hasDefaultPWMLevel = true;
    } else {
        std::uint32_t level = 0;
        p.hasDefaultPWMLevel = false;
        if (ops.getCurrentPwmClockLevel(0, &level) != StatusCode::Ok) {
            p.DefaultPWMLevel = 0;
        } else {
            p.DefaultPWMLevel = level;
            p.hasDefaultPWMLevel = true;
            if (!storeWrite(os, key, "DefaultPWMLevel", static_cast<std::int32_t>(level))) {
                return StatusCode::Failed;
            }
        }
    }
    return StatusCode::Ok;
}

}  // namespace zx::ati
