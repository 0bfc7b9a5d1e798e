// The NVIDIA card profile: limits, defaults and descriptions from the decoded
// card data file, and the seeding of the registry-voltage values.
#include <cstdio>
#include <cstring>

#include "core/decimal.h"
#include "core/profile_section.h"
#include "nv/nv_backend.h"
#include "nv/nv_state.h"
#include "nv/nv_store.h"
#include "platform/platform.h"

namespace zx::nv {

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
    p.descriptionCount = file.descriptions(p.descriptions);
    return StatusCode::Ok;
}

}  // namespace zx::nv
