// The ATI card profile: limits, capabilities, defaults and descriptions of
// the card model, filled at every start-up from the decoded card data file
// and the per-user store, read by every ATI operation. A limit of 0 means
// the card lacks the feature.
#pragma once

#include <cstdint>
#include <string>

#include "core/types.h"
#include "core/ini_reader.h"
#include "platform/platform.h"

namespace zx::ati {

inline constexpr std::uint32_t kProfileDefaultLevels = 3;

struct AtiCardProfile {
    std::uint32_t GPUVoltageMax = 0;
    std::uint32_t GPUVoltageMin = 0;
    std::uint32_t GPUVoltageStep = 0;
    std::uint32_t MemoryVoltageMax = 0;
    std::uint32_t MemoryVoltageMin = 0;
    std::uint32_t MemoryVoltageStep = 0;
    std::uint32_t PWMClockMax = 0;
    std::uint32_t PWMClockMin = 0;
    std::uint32_t PWMClockStep = 0;
    std::uint32_t DefaultPWMLevel = 0;
    std::uint32_t DefaultMemoryVoltageLevel = 0;
    // False while the level was neither stored nor read from the card: such a
    // default is never reported or applied.
    bool hasDefaultPWMLevel = false;
    bool hasDefaultMemoryVoltageLevel = false;
    std::uint32_t DACSupported = 0;
    std::uint32_t CanSet2DAs3DClock = 0;
    std::uint32_t DefaultGPUVoltage[kProfileDefaultLevels] = {};
    std::uint32_t DefaultGPUClock[kProfileDefaultLevels] = {};     // 10 kHz units
    std::uint32_t DefaultMemoryClock[kProfileDefaultLevels] = {};  // 10 kHz units
    std::uint32_t descriptionCount = 0;
    char descriptions[kMaxDescriptions][kDescriptionSize] = {};
};

AtiCardProfile& atiProfile();

// The AtiProfileStore: decimal text in 260-byte REG_EXPAND_SZ blocks under
// the card's key.
inline constexpr const char* kStoreKeyPrefix = "SOFTWARE\\ORVANTEK\\ZXDISPLAYLIB\\ATI\\Hardware\\";
inline constexpr std::uint32_t kStoreValueSize = 260;

std::string storeKeyOf(const char* cardId);
// True with the parsed number when the value is present.
bool storeRead(platform::Platform& os, const std::string& key, const char* name, std::int32_t* value);
bool storeWrite(platform::Platform& os, const std::string& key, const char* name, std::int32_t value);

// Reads the profile of a card model at start-up: file keys, descriptions,
// then the defaults from the store, captured from GPU 0 where missing.
StatusCode readAtiProfile(const char* cardId, const ini::Profile& profile);

}  // namespace zx::ati
