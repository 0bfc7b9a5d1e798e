// The setters' lock test against a bare getter, through the exports of the
// static library with a backend that answers at once: what a setter costs
// beyond a getter is its lock test.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "core/backend.h"
#include "api/state.h"
#include "platform/posix/posix_platform.h"
#include "support/forwarding_backend.h"
#include "zxdisplay.h"

namespace {

// Answers every operation at once, doing nothing.
struct IdleBackend final : zxtest::ForwardingBackend<IdleBackend> {
    template <class... Args>
    StatusCode respond(const char*, Args...) {
        return StatusCode::NotSupported;
    }
};

// A started library on a backend that does nothing, its lock file in a
// folder of its own rather than the machine's.
class Library {
public:
    Library() {
        char folder[] = "/tmp/zxbench-XXXXXX";
        if (::mkdtemp(folder) != nullptr) {
            folder_ = folder;
            ::setenv(zx::platform::posix::kLockFolderVariable, folder, 1);
        }
        zx::overrideBackendsForTesting(&backend_, &backend_);
        zx::state().vendorKind = zx::VendorKind::Nvidia;
    }
    ~Library() {
        zx::platform::posix::forgetNamedLocksForTesting();
        ::unlink((folder_ + "/ZXDisplayLibMutex").c_str());
        ::rmdir(folder_.c_str());
    }

private:
    IdleBackend backend_;
    std::string folder_;
};

Library& library() {
    static Library instance;
    return instance;
}

// Another process holds the lock while this lives.
class HeldElsewhere {
public:
    HeldElsewhere() {
        int ready[2];
        if (::pipe(ready) != 0) {
            return;
        }
        child_ = ::fork();
        if (child_ == 0) {
            const char c = ZXSetLockLibStatus(1) == ZX_STATUS_OK ? 'h' : 'f';
            if (::write(ready[1], &c, 1) != 1) {
                ::_exit(1);
            }
            for (;;) {
                ::pause();
            }
        }
        char c = 0;
        if (::read(ready[0], &c, 1) != 1 || c != 'h') {
            failed_ = true;
        }
        ::close(ready[0]);
        ::close(ready[1]);
    }
    ~HeldElsewhere() {
        if (child_ > 0) {
            ::kill(child_, SIGKILL);
            ::waitpid(child_, nullptr, 0);
        }
    }
    bool failed() const { return failed_ || child_ <= 0; }

private:
    pid_t child_ = -1;
    bool failed_ = false;
};

void BM_Getter(benchmark::State& state) {
    library();
    std::uint32_t count = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(ZXGetGpuCount(&count));
    }
}
BENCHMARK(BM_Getter);

void BM_SetterLockFree(benchmark::State& state) {
    library();
    for (auto _ : state) {
        benchmark::DoNotOptimize(ZXSetGPUClockDefault(0));
    }
}
BENCHMARK(BM_SetterLockFree);

void BM_SetterLockHeldHere(benchmark::State& state) {
    library();
    if (ZXSetLockLibStatus(1) != ZX_STATUS_OK) {
        state.SkipWithError("the lock could not be taken");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(ZXSetGPUClockDefault(0));
    }
    ZXSetLockLibStatus(0);
}
BENCHMARK(BM_SetterLockHeldHere);

void BM_SetterLockHeldElsewhere(benchmark::State& state) {
    library();
    HeldElsewhere holder;
    if (holder.failed()) {
        state.SkipWithError("no other process could take the lock");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(ZXSetGPUClockDefault(0));
    }
}
BENCHMARK(BM_SetterLockHeldElsewhere);

}  // namespace
