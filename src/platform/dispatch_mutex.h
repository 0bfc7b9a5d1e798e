// One process-wide mutex that serialises the exports' work on the cards, so
// that threads calling getters and setters at once never interleave the
// driver calls of two operations (a read-modify-write of the regulator's
// pins, a level table read and written back). Uncontended it costs an atomic
// exchange each way and never allocates; a child made by fork() starts with
// it free, whatever another thread of the parent was doing.
#pragma once

namespace zx::platform {

void lockDispatch();
void unlockDispatch();

class DispatchGuard {
public:
    DispatchGuard() { lockDispatch(); }
    ~DispatchGuard() { unlockDispatch(); }
    DispatchGuard(const DispatchGuard&) = delete;
    DispatchGuard& operator=(const DispatchGuard&) = delete;
};

}  // namespace zx::platform
