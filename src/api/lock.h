// The cross-process card lock "ZXDisplayLibMutex": while one process holds it,
// the setters of every other process refuse with LockedByOther.
#pragma once

#include <cstdint>

#include "core/types.h"

namespace zx {

inline constexpr const char* kLockName = "ZXDisplayLibMutex";

// The setters' test: true when another process holds the lock. Never takes
// it.
bool lockedByOther();

StatusCode getLockLibStatus(std::uint32_t* status);
StatusCode setLockLibStatus(std::uint32_t flag);

// Gives the lock back if this process holds it; true when it did.
bool releaseLockIfHeld();

}  // namespace zx
