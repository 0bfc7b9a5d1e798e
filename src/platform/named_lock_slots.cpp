#include "platform/named_lock_slots.h"

#include <cstring>

namespace zx::platform {

NamedLockSlots::Slot* NamedLockSlots::findSlot(const char* name) {
    for (auto& slot : slots_) {
        if (slot.used.load(std::memory_order_acquire) && std::strcmp(slot.name, name) == 0) {
            return &slot;
        }
    }
    return nullptr;
}

// The slot of name, made at its first use; nullptr for a name the OS cannot
// use or when every slot is taken. A slot is published (used) only once
// filled, so a name found without the table lock is complete.
NamedLockSlots::Slot* NamedLockSlots::slotFor(const char* name) {
    if (name == nullptr) {
        return nullptr;
    }
    if (Slot* slot = findSlot(name)) {
        return slot;
    }
    if (name[0] == '\0' || std::strlen(name) > kMaxNameLength || !admits(name)) {
        return nullptr;
    }
    lockTable();
    Slot* found = findSlot(name);
    for (std::size_t i = 0; found == nullptr && i < kMaxLocks; ++i) {
        Slot& slot = slots_[i];
        if (slot.used.load(std::memory_order_relaxed)) {
            continue;
        }
        if (prepare(i, name)) {
            std::strcpy(slot.name, name);
            slot.used.store(true, std::memory_order_release);
            found = &slot;
        }
        break;
    }
    unlockTable();
    return found;
}

NamedLockResult NamedLockSlots::take(const char* name) {
    Slot* slot = slotFor(name);
    if (slot == nullptr) {
        return NamedLockResult::Failed;
    }
    int expected = kFree;
    if (!slot->hold.compare_exchange_strong(expected, kBusy, std::memory_order_acq_rel)) {
        return NamedLockResult::AlreadyExists;  // held here, or being taken by another thread
    }
    const NamedLockResult result = takeLock(indexOf(*slot), slot->name);
    slot->hold.store(result == NamedLockResult::Created ? kHeld : kFree, std::memory_order_release);
    return result;
}

NamedLockState NamedLockSlots::state(const char* name) {
    Slot* slot = slotFor(name);
    if (slot == nullptr) {
        return NamedLockState::Free;
    }
    if (slot->hold.load(std::memory_order_acquire) == kHeld) {
        return NamedLockState::HeldHere;
    }
    return probe(indexOf(*slot), slot->name);
}

bool NamedLockSlots::release(const char* name) {
    Slot* slot = slotFor(name);
    if (slot == nullptr) {
        return false;
    }
    int expected = kHeld;
    if (!slot->hold.compare_exchange_strong(expected, kBusy, std::memory_order_acq_rel)) {
        return false;
    }
    releaseLock(indexOf(*slot));
    slot->hold.store(kFree, std::memory_order_release);
    return true;
}

void NamedLockSlots::forgetHolds() {
    for (auto& slot : slots_) {
        slot.hold.store(kFree);
    }
}

void NamedLockSlots::forgetNames() {
    for (auto& slot : slots_) {
        slot.hold.store(kFree);
        slot.used.store(false);
    }
}

}  // namespace zx::platform
