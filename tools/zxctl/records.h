// The records zxctl reads from the library, as JSON: one builder for the
// command line's --json output and the dashboard's /api/, so both say the same.
// Every reading is a number, or null with the reason (the status name) in the
// "unavailable" object beside it. The library must be started (ZXInitLib).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include <zxdisplay.h>

namespace zxctl {

using json = nlohmann::ordered_json;

// The version of the JSON documents' layout (docs/zxctl.md): raised when a
// field changes meaning or goes; new fields may come without it.
inline constexpr int kJsonSchema = 1;

void markUnavailable(json& obj, const std::string& key, ZXStatus s);
void putValue(json& obj, const std::string& key, ZXStatus s, std::uint32_t value);
json rangeJson(const ZXRangeInfo& r);
void putRange(json& obj, const std::string& key, ZXStatus s, const ZXRangeInfo& r);
void putLevels(json& obj, const std::string& key, ZXStatus s, const ZXLevelValues& v);

// The three clock domains, in the order they are shown.
struct ClockDomain {
    const char* key;
    const char* label;
    ZXStatus (*levels)(std::uint32_t, ZXLevelValues*);
    ZXStatus (*defaults)(std::uint32_t, ZXLevelValues*);
    ZXStatus (*infoEx)(std::uint32_t, std::uint32_t, ZXRangeInfo*);
};
extern const ClockDomain kClockDomains[3];

// The simulated machine's name when running inside one, else null.
json simulatedJson();
// The loaded libzxdisplay's file (canonical path).
std::string libraryFile();
const char* vendorName(std::uint32_t kind);
// "unlocked", "held by this process" or "held by another process".
const char* lockText(std::uint32_t status);

// The card data file the library reads for a vendor (ZX_VENDOR_*), found in
// the library's order; "" when there is none.
std::string cardDataFile(std::uint32_t kind);

// info --json: library, adapters, backend, card data file, GPU count,
// control modes, descriptions.
json infoJson();
// One GPU of status --json.
json gpuStatus(std::uint32_t gpu);
// status --json: the schema version, the simulated machine and the GPUs.
json statusJson(const std::vector<std::uint32_t>& gpus);
// One GPU's sample of watch --json (clocks of the current level).
json watchSample(std::uint32_t gpu);

}  // namespace zxctl
