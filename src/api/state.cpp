#include "api/state.h"

#include "ati/ati_backend.h"
#include "nv/nv_backend.h"

namespace zx {

namespace {
Backend* g_atiOverride = nullptr;
Backend* g_nvOverride = nullptr;
}  // namespace

LibraryState& state() {
    static LibraryState instance;
    return instance;
}

Backend& atiBackend() {
    if (g_atiOverride != nullptr) {
        return *g_atiOverride;
    }
    static ati::AtiBackend instance;
    return instance;
}

Backend& nvBackend() {
    if (g_nvOverride != nullptr) {
        return *g_nvOverride;
    }
    return nv::NvBackend::instance();
}

void overrideBackendsForTesting(Backend* ati, Backend* nv) {
    g_atiOverride = ati;
    g_nvOverride = nv;
}

Backend& backendFor(VendorKind kind) {
    return kind == VendorKind::Ati ? atiBackend() : nvBackend();
}

}  // namespace zx
