// NVIDIA start-up, GPU order, and the small operations on its state.
#include "nv/nv_backend.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "core/card_id.h"
#include "nv/nv_state.h"
#include "nv/nv_store.h"
#include "nv/nvapi_binding.h"
#include "nv/regulator/i2c.h"
#include "platform/platform.h"

namespace zx::nv {

namespace {

// Card models whose regulator is driven at the registry-voltage address and
// whose current voltage lives in the user store.
constexpr const char* kRegistryVoltageCards[] = {
    "10DE_0606_A101_7A3C",
    "10DE_0611_A102_7A3C",
    "10DE_0611_A103_7A3C",
};

bool isRegistryVoltageCard(const char* cardId) {
    std::string upper(cardId);
    for (char& c : upper) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    for (const char* row : kRegistryVoltageCards) {
        if (upper == row) {
            return true;
        }
    }
    return false;
}

}  // namespace

NvState& nvState() {
    static NvState state;
    return state;
}

NvGpuHandle gpuHandle(std::uint32_t gpu) {
    const NvState& st = nvState();
    return gpu < st.gpuCount ? st.gpuHandles[gpu] : nullptr;
}

NvBackend& NvBackend::instance() {
    static NvBackend backend;
    return backend;
}

namespace {

StatusCode startNvidia(const AdapterTable& table) {
    NvState& st = nvState();
    NvapiBinding& api = nvapi();
    if (bindNvapi(platform::current()) != kBindOk) {
        return StatusCode::Failed;
    }

    std::uint32_t count = 0;
    if (api.enumPhysicalGpus(st.gpuHandles, &count) != 0) {
        return StatusCode::Failed;
    }
    // Never trust a count beyond what the handle array holds.
    st.gpuCount = count < kMaxPhysicalGpus ? count : kMaxPhysicalGpus;
    if (st.gpuCount == 0) {
        return StatusCode::Failed;
    }

    // Two GPUs are put in ascending bus order, as discovery orders the
    // adapters, so index i names the same card on both sides.
    if (st.gpuCount == 2) {
        std::uint32_t bus0 = 0;
        std::uint32_t bus1 = 0;
        api.getBusId(st.gpuHandles[0], &bus0);
        api.getBusId(st.gpuHandles[1], &bus1);
        if (bus0 > bus1) {
            std::swap(st.gpuHandles[0], st.gpuHandles[1]);
        }
    }

    // The regulator kind is decided on the first GPU and holds for all. The
    // registry key exists only for registry-voltage cards.
    st.regulatorKind = RegulatorKind::None;
    st.cardRegistryKey[0] = '\0';
    if (regulator::NvProbeRegulator(st.gpuHandles[0])) {
        st.regulatorKind = RegulatorKind::PinController;
    } else {
        char cardId[40];
        formatCardId(table, 0, cardId, sizeof cardId);
        if (isRegistryVoltageCard(cardId)) {
            st.regulatorKind = RegulatorKind::RegistryVoltage;
            const std::string key = std::string(kRegistryKeyFormatPrefix) + cardId + "\\";
            std::snprintf(st.cardRegistryKey, sizeof st.cardRegistryKey, "%s", key.c_str());
        }
    }

    NvPerfClocksRecord rec{};
    rec.version = kPerfClocksVersion;
    if (api.getPerfClocks(st.gpuHandles[0], 0, &rec) != 0) {
        return StatusCode::Failed;
    }
    st.levelCount = rec.levelCount;
    return StatusCode::Ok;
}

}  // namespace

// A start-up that fails leaves no driver library loaded.
StatusCode NvBackend::startUp(const AdapterTable& table) {
    const StatusCode result = startNvidia(table);
    if (result != StatusCode::Ok) {
        unloadNvapi(platform::current());
    }
    return result;
}

// Handles, profile and the NVAPI binding stay until the process ends.
StatusCode NvBackend::shutDown() { return StatusCode::Ok; }

StatusCode NvBackend::getGpuCount(std::uint32_t* count) {
    *count = nvState().gpuCount;
    return StatusCode::Ok;
}

StatusCode NvBackend::getControlMode(std::uint32_t* flags) {
    const NvState& st = nvState();
    const NvCardProfile& p = st.profile;
    std::uint32_t f = *flags | ControlMode::GpuClock | ControlMode::MemoryClock | ControlMode::ShaderClock;
    // Without a regulator the voltage, memory-voltage and PWM setters refuse,
    // so they are not offered.
    const bool regulator = st.regulatorKind != RegulatorKind::None;
    if (regulator && p.GPUVoltageStep != 0) f |= ControlMode::GpuVoltage;
    if (regulator && p.MemoryVoltageStep != 0) f |= ControlMode::MemoryVoltage;
    if (regulator && p.PWMClockStep != 0) f |= ControlMode::PwmClock;
    if (p.CanSet2DAs3DClock != 0) f |= ControlMode::Set2DAs3DClock;
    *flags = f;
    return StatusCode::Ok;
}

StatusCode NvBackend::getCurrentPerformanceLevel(std::uint32_t gpu, std::uint32_t* level) {
    const NvGpuHandle handle = gpuHandle(gpu);
    if (handle == nullptr) {
        return StatusCode::Failed;
    }
    NvPerfClocksRecord rec{};
    rec.version = kPerfClocksVersion;
    if (nvapi().getPerfClocks(handle, 0, &rec) != 0) {
        return StatusCode::Failed;
    }
    *level = rec.currentLevel;
    return StatusCode::Ok;
}

// All GPUs share one description list.
StatusCode NvBackend::getVgaInfoDescription(std::uint32_t, VgaInfoDescription* desc) {
    const NvCardProfile& p = nvState().profile;
    desc->count = p.descriptionCount;
    for (std::uint32_t i = 0; i < p.descriptionCount && i < kMaxDescriptions; ++i) {
        const std::size_t n = strnlen(p.descriptions[i], kDescriptionSize - 1);
        std::memcpy(desc->strings[i], p.descriptions[i], n);
        desc->strings[i][n] = '\0';
    }
    return StatusCode::Ok;
}

}  // namespace zx::nv
