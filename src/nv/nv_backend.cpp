#include "nv/nv_backend.h"

namespace zx::nv {

NvBackend& NvBackend::instance() {
    static NvBackend backend;
    return backend;
}

StatusCode NvBackend::setDacLevel(std::uint32_t, std::uint32_t) { return notSupported(); }

}  // namespace zx::nv
