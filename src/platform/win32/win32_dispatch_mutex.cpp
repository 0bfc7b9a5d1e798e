// The dispatch mutex on Windows: a slim reader/writer lock taken exclusively.
// It needs no initialisation call and no heap, and Windows has no fork().
#include <windows.h>

#include "platform/dispatch_mutex.h"

namespace zx::platform {

namespace {
SRWLOCK g_dispatch = SRWLOCK_INIT;
}  // namespace

void lockDispatch() { ::AcquireSRWLockExclusive(&g_dispatch); }
void unlockDispatch() { ::ReleaseSRWLockExclusive(&g_dispatch); }

}  // namespace zx::platform
