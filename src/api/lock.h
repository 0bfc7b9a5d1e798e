// The cross-process card lock: a named lock that exists while some process
// holds it and vanishes when that process ends, by any means.
#pragma once

#include <cstdint>

#include "api/types.h"
#include "platform/platform.h"

namespace zx {

inline constexpr const char* kLockName = "ZXDisplayLibMutex";

// True when anyone holds the lock. Probing when nobody does creates the lock
// for a moment and gives it back at once.
bool lockProbe(platform::NativeHandle& lockHandle);

// The setters' test: true when another holder has the lock and this instance
// does not.
bool lockedByOther();

StatusCode getLockLibStatus(std::uint32_t* status);
StatusCode setLockLibStatus(std::uint32_t flag);

// Gives the lock back if this instance holds it.
void releaseLockIfHeld();

}  // namespace zx
