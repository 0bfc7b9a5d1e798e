#include "nv/nv_store.h"

#include <cstdio>

#include "core/decimal.h"

namespace zx::nv {

namespace {
constexpr std::uint32_t kValueBufferSize = 32;
}

bool registryRead(platform::Platform& os, const std::string& keyPath, const char* name, std::uint32_t* out) {
    if (!os.storeKeyExists(keyPath)) {
        return false;
    }
    // One spare NUL so a value of exactly 32 bytes still parses as a string.
    std::uint8_t buffer[kValueBufferSize + 1] = {};
    std::uint32_t type = 0;
    std::uint32_t size = kValueBufferSize;
    if (os.storeQuery(keyPath, name, &type, buffer, &size) != platform::StoreResult::Ok) {
        return false;
    }
    const char* text = reinterpret_cast<const char*>(buffer);
    if (text[0] == '\0') {
        *out = 0;
        return false;
    }
    *out = static_cast<std::uint32_t>(parseDecimal(text));
    return true;
}

bool registryWrite(platform::Platform& os, const std::string& keyPath, const char* name, std::int32_t value) {
    if (!os.storeKeyExists(keyPath) && !os.storeCreateKey(keyPath)) {
        return false;
    }
    char text[16];
    const int length = std::snprintf(text, sizeof text, "%d", static_cast<int>(value));
    return os.storeSet(keyPath, name, platform::kRegSz, reinterpret_cast<const std::uint8_t*>(text),
                       static_cast<std::uint32_t>(length) + 1);
}

std::string gpuSuffix(std::uint32_t gpu) { return gpu == 0 ? std::string() : std::to_string(gpu); }

std::string gpuVoltageCurrentName(std::uint32_t gpu) { return kGpuVoltageCurrentValue + gpuSuffix(gpu); }

}  // namespace zx::nv
