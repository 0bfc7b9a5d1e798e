// Many threads on one started library: eight poll every getter while two set
// clocks, voltages and the fan and one takes and gives back the card lock.
// Every answer must stay within the documented set; the ThreadSanitizer build
// runs this for ZX_CONCURRENCY_SECONDS (scripts/test.sh: 10 s per backend),
// the other builds for a moment. Then four processes writing one store.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/posix_platform.h"
#include "support/in_process_machine.h"
#include "support/test_env.h"

namespace {

using namespace zxtest::inproc;

class Concurrency : public ::testing::TestWithParam<Vendor> {};

TEST_P(Concurrency, PollersSettersAndTheLockStayWithinTheDocumentedAnswers) {
    zx::platform::posix::forgetNamedLocksForTesting();  // the lock file of this test's folder
    Machine m(GetParam());
    ASSERT_EQ(m.start(), ZX_STATUS_OK);
    // The threads use the real platform for the lock (the in-memory one is
    // not meant for threads); the vendor library stays bound as started.
    zx::platform::setPlatform(nullptr);
    std::vector<const Export*> getters, setters;
    for (const Export& e : exports()) {
        (e.outSize > 0 ? getters : setters).push_back(&e);
    }
    const int bystander = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    std::mutex mutex;
    unsigned bad = 0;   // answers outside the documented set
    std::string first;  // the first of them
    std::atomic<bool> stop{false};
    std::atomic<unsigned long> calls{0};
    std::vector<std::thread> threads;
    // A thread calling body until stopped; body tells what went wrong, if anything.
    const auto run = [&](auto body) {
        threads.emplace_back([&, body] {
            for (std::size_t i = 0; !stop.load(std::memory_order_relaxed); ++i) {
                const std::string wrong = body(i);
                calls.fetch_add(1, std::memory_order_relaxed);
                if (!wrong.empty()) {
                    std::lock_guard<std::mutex> guard(mutex);
                    first = bad++ == 0 ? wrong : first;
                }
            }
        });
    };
    // Only this process ever holds the lock, so no setter answers 4.
    for (std::size_t t = 0; t < 10; ++t) {
        run([&list = t < 8 ? getters : setters, t](std::size_t i) {
            alignas(8) std::uint8_t out[512];
            const Export& e = *list[(i + t) % list.size()];
            const ZXStatus s = e.call(out);
            return s > ZX_STATUS_NOT_SUPPORTED ? std::string(e.name) + " answered " + std::to_string(s) : "";
        });
    }
    run([](std::size_t) {
        std::uint32_t state = 0xAA;
        const ZXStatus take = ZXSetLockLibStatus(1), get = ZXGetLockLibStatus(&state), give = ZXSetLockLibStatus(0);
        const bool ok = take <= 1 && give <= 1 && get == ZX_STATUS_OK && state <= ZX_LOCK_HELD_HERE;
        return ok ? "" : "lock: take " + std::to_string(take) + ", status " + std::to_string(get) + "/" +
                             std::to_string(state) + ", give back " + std::to_string(give);
    });
    const char* seconds = std::getenv("ZX_CONCURRENCY_SECONDS");
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds != nullptr ? std::atof(seconds) : 0.3));
    stop = true;
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(bad, 0u) << first;
    EXPECT_GT(calls.load(), 0u);
    // The lock file was opened once and kept; no other descriptor was closed.
    int lockFiles = 0;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        lockFiles += std::filesystem::read_symlink(fd.path(), ec) == zxtest::lockDir() + "/ZXDisplayLibMutex";
    }
    EXPECT_EQ(lockFiles, 1);
    EXPECT_EQ(::fcntl(bystander, F_GETFD), FD_CLOEXEC);
    ::close(bystander);
    ZXSetLockLibStatus(0);
    zx::platform::setPlatform(&m.os());
}

INSTANTIATE_TEST_SUITE_P(Vendors, Concurrency, ::testing::Values(Vendor::Nvidia, Vendor::Ati),
                         [](const auto& p) { return p.param == Vendor::Nvidia ? "Nvidia" : "Ati"; });

// Four processes writing one key of a store that does not exist yet, all at
// once: every value of every writer is there afterwards.
TEST(ConcurrentStore, FourWritingProcessesLoseNoValue) {
    const std::string key = "SOFTWARE\\ORVANTEK\\Concurrency";
    const auto name = [](int w, int i) { return "W" + std::to_string(w) + "V" + std::to_string(i); };
    int gate[2];
    ASSERT_EQ(::pipe(gate), 0);
    std::vector<pid_t> writers;
    for (int w = 0; w < 4; ++w) {
        writers.push_back(::fork());
        ASSERT_GE(writers.back(), 0);
        if (writers.back() == 0) {
            // Each writer waits until the gate closes, so that all start at once.
            char go = 0;
            ::close(gate[1]);
            bool ok = ::read(gate[0], &go, 1) == 0;
            for (int i = 0; ok && i < 60; ++i) {
                const std::string n = name(w, i);
                ok = zx::platform::native().storeSet(key, n.c_str(), zx::platform::kRegSz,
                                                   reinterpret_cast<const std::uint8_t*>(n.c_str()),
                                                   static_cast<std::uint32_t>(n.size() + 1));
            }
            ::_exit(ok ? 0 : 1);
        }
    }
    ::close(gate[0]);
    ::close(gate[1]);
    for (pid_t pid : writers) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    for (int w = 0; w < 4; ++w) {
        for (int i = 0; i < 60; ++i) {
            char data[32] = {};
            std::uint32_t type = 0, size = sizeof data;
            EXPECT_EQ(zx::platform::native().storeQuery(key, name(w, i).c_str(), &type,
                                                      reinterpret_cast<std::uint8_t*>(data), &size),
                      zx::platform::StoreResult::Ok);
            EXPECT_EQ(std::string(data), name(w, i));
        }
    }
}

}  // namespace
