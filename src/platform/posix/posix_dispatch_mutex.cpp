// The dispatch mutex on POSIX: a std::mutex held across fork() by the forking
// thread and released on both sides, so the child never inherits it locked.
#include <pthread.h>

#include <mutex>

#include "platform/dispatch_mutex.h"

namespace zx::platform {

namespace {

std::mutex g_dispatch;

void beforeFork() { g_dispatch.lock(); }
void afterFork() { g_dispatch.unlock(); }

// Registered when the library is loaded, so that no export pays for it.
struct ForkHandlers {
    ForkHandlers() { ::pthread_atfork(beforeFork, afterFork, afterFork); }
};
const ForkHandlers g_forkHandlers;

}  // namespace

void lockDispatch() { g_dispatch.lock(); }
void unlockDispatch() { g_dispatch.unlock(); }

}  // namespace zx::platform
