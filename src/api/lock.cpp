#include "api/lock.h"

#include "api/state.h"

namespace zx {

bool lockProbe(platform::NativeHandle& lockHandle) {
    if (lockHandle != 0) {
        return true;
    }
    auto& os = platform::current();
    platform::NativeHandle handle = 0;
    switch (os.createNamedLock(kLockName, handle)) {
    case platform::NamedLockResult::AlreadyExists:
        return true;
    case platform::NamedLockResult::Failed:
        return false;
    case platform::NamedLockResult::Created:
        os.releaseNamedLock(handle);
        return false;
    }
    return false;
}

bool lockedByOther() {
    auto& handle = state().lockHandle;
    return lockProbe(handle) && handle == 0;
}

StatusCode getLockLibStatus(std::uint32_t* status) {
    auto& st = state();
    if (st.vendorKind == VendorKind::None) {
        return StatusCode::NotInitialised;
    }
    if (st.lockHandle != 0) {
        *status = static_cast<std::uint32_t>(LockStatus::HeldHere);
        return StatusCode::Ok;
    }
    *status = static_cast<std::uint32_t>(lockProbe(st.lockHandle) ? LockStatus::HeldElsewhere
                                                                  : LockStatus::Unlocked);
    return StatusCode::Ok;
}

StatusCode setLockLibStatus(std::uint32_t flag) {
    auto& st = state();
    if (st.vendorKind == VendorKind::None) {
        return StatusCode::NotInitialised;
    }
    if ((flag & 0xFFu) != 0) {
        // Taking while anyone holds it, this instance included, is refused and
        // changes nothing.
        if (lockProbe(st.lockHandle)) {
            return StatusCode::Failed;
        }
        platform::NativeHandle handle = 0;
        if (platform::current().createNamedLock(kLockName, handle) != platform::NamedLockResult::Created) {
            return StatusCode::Failed;
        }
        st.lockHandle = handle;
        return StatusCode::Ok;
    }
    if (st.lockHandle == 0) {
        return StatusCode::Failed;
    }
    releaseLockIfHeld();
    return StatusCode::Ok;
}

void releaseLockIfHeld() {
    auto& st = state();
    if (st.lockHandle != 0) {
        platform::current().releaseNamedLock(st.lockHandle);
        st.lockHandle = 0;
    }
}

}  // namespace zx
