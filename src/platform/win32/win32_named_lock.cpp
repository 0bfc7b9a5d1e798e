// The named lock: the existence of a named kernel mutex. Taking creates it
// (CreateMutexA, initial owner) and keeps the handle; the system destroys the
// mutex when its last handle closes, so the lock is freed when the holder
// ends in any way. The state is probed with OpenMutexA, which never creates
// it: found means held. Nobody ever waits on the mutex.
//
// The name table and the hold state between threads are in
// platform/named_lock_slots.h; this file keeps each slot's handle.
#include <windows.h>

#include <cstring>

#include "platform/named_lock_slots.h"
#include "platform/win32/win32_platform.h"

namespace zx::platform::win32 {

namespace {

// Written only by the thread that set the slot busy.
HANDLE g_handles[NamedLockSlots::kMaxLocks] = {};
SRWLOCK g_slotsLock = SRWLOCK_INIT;

class Win32LockSlots final : public NamedLockSlots {
public:
    constexpr Win32LockSlots() = default;

private:
    // A backslash would address a kernel namespace ("Global\...").
    bool admits(const char* name) const override { return std::strchr(name, '\\') == nullptr; }
    void lockTable() override { ::AcquireSRWLockExclusive(&g_slotsLock); }
    void unlockTable() override { ::ReleaseSRWLockExclusive(&g_slotsLock); }
    bool prepare(std::size_t, const char*) override { return true; }
    NamedLockResult takeLock(std::size_t index, const char* name) override;
    void releaseLock(std::size_t index) override;
    NamedLockState probe(std::size_t index, const char* name) override;
};

NamedLockResult Win32LockSlots::takeLock(std::size_t index, const char* name) {
    NamedLockResult result = NamedLockResult::Failed;
    HANDLE handle = ::CreateMutexA(nullptr, TRUE, name);
    const DWORD error = ::GetLastError();
    if (handle != nullptr && error == ERROR_ALREADY_EXISTS) {
        ::CloseHandle(handle);
        handle = nullptr;
        result = NamedLockResult::AlreadyExists;
    } else if (handle != nullptr) {
        result = NamedLockResult::Created;
    } else if (error == ERROR_ACCESS_DENIED) {
        result = NamedLockResult::AlreadyExists;  // another user's mutex of that name
    }
    g_handles[index] = handle;
    return result;
}

// Only the thread that took the lock owns the mutex and may release it;
// closing the last handle destroys the mutex whoever owns it, so giving back
// works from any thread.
void Win32LockSlots::releaseLock(std::size_t index) {
    ::ReleaseMutex(g_handles[index]);
    ::CloseHandle(g_handles[index]);
    g_handles[index] = nullptr;
}

NamedLockState Win32LockSlots::probe(std::size_t, const char* name) {
    if (HANDLE found = ::OpenMutexA(SYNCHRONIZE, FALSE, name)) {
        ::CloseHandle(found);
        return NamedLockState::HeldElsewhere;
    }
    // A mutex that exists but may not be opened is held all the same.
    return ::GetLastError() == ERROR_ACCESS_DENIED ? NamedLockState::HeldElsewhere : NamedLockState::Free;
}

constinit Win32LockSlots g_locks;

}  // namespace

NamedLockResult Win32Platform::takeNamedLock(const char* name) { return g_locks.take(name); }

NamedLockState Win32Platform::namedLockState(const char* name) { return g_locks.state(name); }

bool Win32Platform::releaseNamedLock(const char* name) { return g_locks.release(name); }

}  // namespace zx::platform::win32
