// The process-global library state: the adapter table, the chosen vendor,
// each entry's card identifier (the card lock keeps its own state, see
// api/lock.h). Written only inside ZXInitLib / ZXDeInitLib; read by every
// export without in-process synchronisation (callers must not run ZXInitLib
// concurrently with other calls).
#pragma once

#include <cstdint>

#include "core/types.h"
#include "platform/platform.h"

namespace zx {

class Backend;

struct LibraryState {
    AdapterTable table{};
    VendorKind vendorKind = VendorKind::None;
    char cardIds[kMaxAdapters][kCardIdSize]{};
};

LibraryState& state();

// The backend that serves the chosen vendor kind (ATI for kind 1, NVIDIA for
// any other non-zero kind).
Backend& backendFor(VendorKind kind);
Backend& atiBackend();
Backend& nvBackend();

// Tests only: serve the vendor kinds with other backends (nullptr restores
// the real ones).
void overrideBackendsForTesting(Backend* ati, Backend* nv);

}  // namespace zx
