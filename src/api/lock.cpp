#include "api/lock.h"

#include "api/state.h"
#include "platform/platform.h"

namespace zx {

namespace {

platform::NamedLockState lockState() { return platform::current().namedLockState(kLockName); }

}  // namespace

bool lockedByOther() { return lockState() == platform::NamedLockState::HeldElsewhere; }

// A hold of this process is reported and can be given back whatever the
// vendor state, so that a failed later start-up cannot strand it.
StatusCode getLockLibStatus(std::uint32_t* status) {
    const bool started = state().vendorKind != VendorKind::None;
    const platform::NamedLockState lock = lockState();
    if (!started && lock != platform::NamedLockState::HeldHere) {
        return StatusCode::NotInitialised;
    }
    switch (lock) {
    case platform::NamedLockState::HeldHere:
        *status = static_cast<std::uint32_t>(LockStatus::HeldHere);
        break;
    case platform::NamedLockState::HeldElsewhere:
        *status = static_cast<std::uint32_t>(LockStatus::HeldElsewhere);
        break;
    case platform::NamedLockState::Free:
        *status = static_cast<std::uint32_t>(LockStatus::Unlocked);
        break;
    }
    return StatusCode::Ok;
}

StatusCode setLockLibStatus(std::uint32_t flag) {
    const bool started = state().vendorKind != VendorKind::None;
    if ((flag & 0xFFu) != 0) {
        if (!started) {
            return StatusCode::NotInitialised;
        }
        // Taking while anyone holds it, this process included, is refused and
        // changes nothing.
        return platform::current().takeNamedLock(kLockName) == platform::NamedLockResult::Created
                   ? StatusCode::Ok
                   : StatusCode::Failed;
    }
    if (releaseLockIfHeld()) {
        return StatusCode::Ok;
    }
    return started ? StatusCode::Failed : StatusCode::NotInitialised;
}

bool releaseLockIfHeld() { return platform::current().releaseNamedLock(kLockName); }

}  // namespace zx
