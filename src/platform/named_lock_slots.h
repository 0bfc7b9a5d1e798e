// The part of the named lock that is the same on every OS: up to four names
// in a fixed table, filled at a name's first use, and per name an atomic hold
// state (free, busy, held) that decides between the threads of this process,
// since the OS lock never conflicts with this process's own hold. Nothing is
// allocated. Each OS derives from NamedLockSlots and supplies the system
// calls; a slot's index names its OS data.
#pragma once

#include <atomic>
#include <cstddef>

#include "platform/platform.h"

namespace zx::platform {

class NamedLockSlots {
public:
    static constexpr std::size_t kMaxLocks = 4;
    static constexpr std::size_t kMaxNameLength = 63;

    NamedLockSlots(const NamedLockSlots&) = delete;
    NamedLockSlots& operator=(const NamedLockSlots&) = delete;

    NamedLockResult take(const char* name);
    NamedLockState state(const char* name);
    bool release(const char* name);

    // Forgets every hold without giving it back: a forked child must neither
    // report nor give back its parent's hold.
    void forgetHolds();
    // Empties the table; only with no other thread in the lock calls.
    void forgetNames();

protected:
    constexpr NamedLockSlots() = default;
    ~NamedLockSlots() = default;

    // The OS's rules for a name beyond non-empty and at most kMaxNameLength.
    virtual bool admits(const char* name) const = 0;
    // Keep other threads (and, where it matters, fork()) out while a slot is
    // filled.
    virtual void lockTable() = 0;
    virtual void unlockTable() = 0;
    // Readies slot index for name under the table lock, before other threads
    // can find it; false leaves the slot empty and the call fails.
    virtual bool prepare(std::size_t index, const char* name) = 0;
    // Called only by the thread that set the slot busy.
    virtual NamedLockResult takeLock(std::size_t index, const char* name) = 0;
    virtual void releaseLock(std::size_t index) = 0;
    // Free or HeldElsewhere, without taking the lock; called while this
    // process does not hold it.
    virtual NamedLockState probe(std::size_t index, const char* name) = 0;

private:
    enum Hold : int {
        kFree,  // this process does not hold the lock
        kBusy,  // a thread of this process is taking or giving it back
        kHeld,  // this process holds the lock
    };

    struct Slot {
        std::atomic<bool> used{false};
        char name[kMaxNameLength + 1]{};
        std::atomic<int> hold{kFree};
    };

    Slot* findSlot(const char* name);
    Slot* slotFor(const char* name);
    std::size_t indexOf(const Slot& slot) const { return static_cast<std::size_t>(&slot - slots_); }

    Slot slots_[kMaxLocks];
};

}  // namespace zx::platform
