#include "api/state.h"

#include "ati/ati_backend.h"
#include "nv/nv_backend.h"

namespace zx {

LibraryState& state() {
    static LibraryState instance;
    return instance;
}

Backend& atiBackend() {
    static ati::AtiBackend instance;
    return instance;
}

Backend& nvBackend() {
    return nv::NvBackend::instance();
}

Backend& backendFor(VendorKind kind) {
    return kind == VendorKind::Ati ? atiBackend() : nvBackend();
}

}  // namespace zx
