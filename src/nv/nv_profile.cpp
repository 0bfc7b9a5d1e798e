// The NVIDIA card profile: limits, defaults and descriptions from the decoded
// card data file, and the seeding of the registry-voltage values.
#include <cstdio>
#include <cstring>

#include "core/decimal.h"
#include "nv/nv_backend.h"
#include "nv/nv_state.h"
#include "nv/nv_store.h"
#include "platform/platform.h"

namespace zx::nv {

namespace {

constexpr std::uint32_t kProfileValueSize = 260;

class ProfileSection {
public:
    ProfileSection(const ini::Profile& profile, const char* section) : profile_(profile), section_(section) {}

    // The value's text, or nullptr when the key is absent or empty.
    const char* text(const char* key) {
        const std::uint32_t n = profile_.readString(section_, key, buffer_, sizeof buffer_);
        return n == 0 ? nullptr : buffer_;
    }

    std::uint32_t number(const char* key) {
        const char* t = text(key);
        return t == nullptr ? 0 : static_cast<std::uint32_t>(parseDecimal(t));
    }

private:
    const ini::Profile& profile_;
    const char* section_;
    char buffer_[kProfileValueSize] = {};
};

}  // namespace

// Missing file, section or keys give zero fields; reading never fails.
StatusCode NvBackend::readProfile(const char* cardId, const ini::Profile& profile) {
    platform::Platform& os = platform::current();
    NvState& st = nvState();
    NvCardProfile& p = st.profile;
    ProfileSection file(profile, cardId);

    // Registry-voltage cards take their voltage bookkeeping from the file
    // whenever it carries the keys; other cards read and ignore them.
    // The file's GPUVoltageCurrent seeds the current voltage of every GPU.
    auto seed = [&](const char* key, std::uint32_t gpus) {
        const char* t = file.text(key);
        if (t == nullptr || st.regulatorKind != RegulatorKind::RegistryVoltage || st.cardRegistryKey[0] == '\0') {
            return;
        }
        for (std::uint32_t gpu = 0; gpu < gpus; ++gpu) {
            const std::string name = key + gpuSuffix(gpu);
            registryWrite(os, st.cardRegistryKey, name.c_str(), parseDecimal(t));
        }
    };

    p.GPUVoltageMax = file.number("GPUVoltageMax");
    p.GPUVoltageMin = file.number("GPUVoltageMin");
    p.GPUVoltageStep = file.number("GPUVoltageStep");
    seed(kGpuVoltageStartValue, 1);
    seed(kGpuVoltageCurrentValue, st.gpuCount);
    p.MemoryVoltageMax = file.number("MemoryVoltageMax");
    p.MemoryVoltageMin = file.number("MemoryVoltageMin");
    p.MemoryVoltageStep = file.number("MemoryVoltageStep");
    p.PWMClockMax = file.number("PWMClockMax");
    p.PWMClockMin = file.number("PWMClockMin");
    p.PWMClockStep = file.number("PWMClockStep");
    p.DefaultGPUVoltage2D = file.number("DefaultGPUVoltage2D");
    p.DefaultGPUVoltage3D = file.number("DefaultGPUVoltage3D");
    p.DefaultMemoryVoltageLevel2D = file.number("DefaultMemoryVoltageLevel2D");
    p.DefaultMemoryVoltageLevel3D = file.number("DefaultMemoryVoltageLevel3D");
    p.DefaultPWMLevel = file.number("DefaultPWMLevel");
    p.CanSet2DAs3DClock = file.number("CanSet2DAs3DClock");

    // Descriptions end at the first missing or empty row; a longer text is
    // cut to fit its 40-byte row.
    p.descriptionCount = 0;
    std::memset(p.descriptions, 0, sizeof p.descriptions);
    for (std::uint32_t i = 0; i < kMaxDescriptions; ++i) {
        char key[32];
        std::snprintf(key, sizeof key, "VGAInfoString%u", i);
        const char* t = file.text(key);
        if (t == nullptr) {
            break;
        }
        std::snprintf(p.descriptions[i], kDescriptionSize, "%s", t);
        p.descriptionCount = i + 1;
    }
    return StatusCode::Ok;
}

}  // namespace zx::nv
