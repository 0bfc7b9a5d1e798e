// The named lock: the existence of a named kernel mutex. Taking creates it
// (CreateMutexA, initial owner) and keeps the handle; the system destroys the
// mutex when its last handle closes, so the lock is freed when the holder
// ends in any way. The state is probed with OpenMutexA, which never creates
// it: found means held. Nobody ever waits on the mutex.
//
// As on Linux, a process holds a name at most once: an atomic hold state
// decides between threads, and the handles of up to four names live in a
// fixed table, so nothing is allocated once a name was first used.
#include <windows.h>

#include <atomic>
#include <cstring>

#include "platform/win32/win32_platform.h"

namespace zx::platform::win32 {

namespace {

constexpr std::size_t kMaxLocks = 4;
constexpr std::size_t kMaxNameLength = 63;

enum Hold : int {
    kFree,  // this process does not hold the lock
    kBusy,  // a thread of this process is taking or giving it back
    kHeld,  // this process holds the lock
};

struct LockSlot {
    std::atomic<bool> used{false};
    char name[kMaxNameLength + 1]{};
    HANDLE handle = nullptr;  // written only by the thread that set kBusy
    std::atomic<int> hold{kFree};
};

LockSlot g_slots[kMaxLocks];
SRWLOCK g_slotsLock = SRWLOCK_INIT;

// A backslash would address a kernel namespace ("Global\...").
bool validName(const char* name) {
    return name != nullptr && name[0] != '\0' && std::strchr(name, '\\') == nullptr &&
           std::strlen(name) <= kMaxNameLength;
}

LockSlot* findSlot(const char* name) {
    for (auto& slot : g_slots) {
        if (slot.used.load(std::memory_order_acquire) && std::strcmp(slot.name, name) == 0) {
            return &slot;
        }
    }
    return nullptr;
}

// The slot of name, made at its first use; nullptr for an invalid name or
// when every slot is taken.
LockSlot* slotFor(const char* name) {
    if (name == nullptr) {
        return nullptr;
    }
    if (LockSlot* slot = findSlot(name)) {
        return slot;
    }
    if (!validName(name)) {
        return nullptr;
    }
    ::AcquireSRWLockExclusive(&g_slotsLock);
    LockSlot* found = findSlot(name);
    for (std::size_t i = 0; found == nullptr && i < kMaxLocks; ++i) {
        if (!g_slots[i].used.load(std::memory_order_relaxed)) {
            std::strcpy(g_slots[i].name, name);
            g_slots[i].used.store(true, std::memory_order_release);
            found = &g_slots[i];
        }
    }
    ::ReleaseSRWLockExclusive(&g_slotsLock);
    return found;
}

}  // namespace

NamedLockResult Win32Platform::takeNamedLock(const char* name) {
    LockSlot* slot = slotFor(name);
    if (slot == nullptr) {
        return NamedLockResult::Failed;
    }
    int expected = kFree;
    if (!slot->hold.compare_exchange_strong(expected, kBusy, std::memory_order_acq_rel)) {
        return NamedLockResult::AlreadyExists;  // held here, or being taken by another thread
    }
    NamedLockResult result = NamedLockResult::Failed;
    HANDLE handle = ::CreateMutexA(nullptr, TRUE, slot->name);
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
    slot->handle = handle;
    slot->hold.store(result == NamedLockResult::Created ? kHeld : kFree, std::memory_order_release);
    return result;
}

NamedLockState Win32Platform::namedLockState(const char* name) {
    LockSlot* slot = slotFor(name);
    if (slot == nullptr) {
        return NamedLockState::Free;
    }
    if (slot->hold.load(std::memory_order_acquire) == kHeld) {
        return NamedLockState::HeldHere;
    }
    if (HANDLE found = ::OpenMutexA(SYNCHRONIZE, FALSE, slot->name)) {
        ::CloseHandle(found);
        return NamedLockState::HeldElsewhere;
    }
    // A mutex that exists but may not be opened is held all the same.
    return ::GetLastError() == ERROR_ACCESS_DENIED ? NamedLockState::HeldElsewhere : NamedLockState::Free;
}

bool Win32Platform::releaseNamedLock(const char* name) {
    LockSlot* slot = slotFor(name);
    if (slot == nullptr) {
        return false;
    }
    int expected = kHeld;
    if (!slot->hold.compare_exchange_strong(expected, kBusy, std::memory_order_acq_rel)) {
        return false;
    }
    // Only the thread that took the lock owns the mutex and may release it;
    // closing the last handle destroys the mutex whoever owns it, so giving
    // back works from any thread.
    ::ReleaseMutex(slot->handle);
    ::CloseHandle(slot->handle);
    slot->handle = nullptr;
    slot->hold.store(kFree, std::memory_order_release);
    return true;
}

}  // namespace zx::platform::win32
