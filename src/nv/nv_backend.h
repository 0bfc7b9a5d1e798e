// The NVIDIA backend, reached through NVAPI.
#pragma once

#include "api/backend.h"

namespace zx::nv {

class NvBackend : public Backend {
public:
    static NvBackend& instance();

    // NVIDIA cards have no DAC level control.
    StatusCode setDacLevel(std::uint32_t gpu, std::uint32_t level) override;
};

}  // namespace zx::nv
