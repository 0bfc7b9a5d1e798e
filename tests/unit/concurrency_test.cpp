// Many threads on one started library: eight poll every getter while two set
// clocks, voltages and the fan and one takes and gives back the card lock.
// Every answer must stay within the documented set; the ThreadSanitizer build
// runs this for ZX_CONCURRENCY_SECONDS (scripts/test.sh: 10 s per backend),
// the other builds for a moment.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/posix_platform.h"
#include "support/in_process_machine.h"
#include "zxdisplay.h"

namespace {

using namespace zxtest::inproc;

class Concurrency : public ::testing::TestWithParam<Vendor> {
protected:
    // The first answer outside the documented set, for the failure message.
    void report(const std::string& what) {
        std::lock_guard<std::mutex> guard(mutex_);
        if (first_.empty()) {
            first_ = what;
        }
        bad_.fetch_add(1);
    }

    std::mutex mutex_;
    std::string first_;
    std::atomic<unsigned> bad_{0};
};

double seconds() {
    const char* s = std::getenv("ZX_CONCURRENCY_SECONDS");
    return s != nullptr ? std::atof(s) : 0.3;
}

TEST_P(Concurrency, PollersSettersAndTheLockStayWithinTheDocumentedAnswers) {
    Machine m(GetParam());
    ASSERT_EQ(m.start(), ZX_STATUS_OK);
    // The threads use the real platform for the lock (the in-memory one is
    // not meant for threads); the vendor library stays bound as started.
    zx::platform::setPlatform(nullptr);

    std::vector<const Export*> getters;
    std::vector<const Export*> setters;
    for (const Export& e : exports()) {
        (e.outSize > 0 ? getters : setters).push_back(&e);
    }
    std::atomic<bool> stop{false};
    std::atomic<unsigned long> calls{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            std::uint8_t out[512];
            for (std::size_t i = static_cast<std::size_t>(t); !stop.load(std::memory_order_relaxed); ++i) {
                const Export& e = *getters[i % getters.size()];
                const ZXStatus s = e.call(out);
                if (s > ZX_STATUS_NOT_SUPPORTED) {
                    report(std::string(e.name) + " answered " + std::to_string(s));
                }
                calls.fetch_add(1, std::memory_order_relaxed);
            }
        });
    }
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back([&, t] {
            std::uint8_t out[16];
            for (std::size_t i = static_cast<std::size_t>(t); !stop.load(std::memory_order_relaxed); ++i) {
                const Export& e = *setters[i % setters.size()];
                // The lock is only ever held by this process: never 4.
                const ZXStatus s = e.call(out);
                if (s > ZX_STATUS_NOT_SUPPORTED) {
                    report(std::string(e.name) + " answered " + std::to_string(s));
                }
                calls.fetch_add(1, std::memory_order_relaxed);
            }
        });
    }
    threads.emplace_back([&] {
        while (!stop.load(std::memory_order_relaxed)) {
            const ZXStatus take = ZXSetLockLibStatus(1);
            std::uint32_t state = 0xAA;
            const ZXStatus get = ZXGetLockLibStatus(&state);
            const ZXStatus give = ZXSetLockLibStatus(0);
            if (take > 1 || give > 1 || get != ZX_STATUS_OK || state > ZX_LOCK_HELD_HERE) {
                report("lock: take " + std::to_string(take) + ", status " + std::to_string(get) + "/" +
                       std::to_string(state) + ", give back " + std::to_string(give));
            }
        }
    });
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds()));
    stop = true;
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(bad_.load(), 0u) << first_;
    EXPECT_GT(calls.load(), 0u);
    ZXSetLockLibStatus(0);
    zx::platform::setPlatform(&m.os());
}

// Four processes writing one key of a store that does not exist yet, all at
// once: every value of every writer is there afterwards.
TEST(ConcurrentStore, FourWritingProcessesLoseNoValue) {
    constexpr int kWriters = 4;
    constexpr int kPerWriter = 60;
    const std::string key = "SOFTWARE\\ORVANTEK\\Concurrency";
    int gate[2];
    ASSERT_EQ(::pipe(gate), 0);
    std::vector<pid_t> writers;
    for (int w = 0; w < kWriters; ++w) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::close(gate[1]);
            char go = 0;
            if (::read(gate[0], &go, 1) != 1) {
                ::_exit(2);
            }
            for (int i = 0; i < kPerWriter; ++i) {
                const std::string name = "W" + std::to_string(w) + "V" + std::to_string(i);
                if (!zx::platform::posix::storeSet(key, name.c_str(), zx::platform::kRegSz,
                                                   reinterpret_cast<const std::uint8_t*>(name.c_str()),
                                                   static_cast<std::uint32_t>(name.size() + 1))) {
                    ::_exit(1);
                }
            }
            ::_exit(0);
        }
        writers.push_back(pid);
    }
    ::close(gate[0]);
    ASSERT_EQ(::write(gate[1], "gggg", kWriters), kWriters);
    ::close(gate[1]);
    for (pid_t pid : writers) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    for (int w = 0; w < kWriters; ++w) {
        for (int i = 0; i < kPerWriter; ++i) {
            const std::string name = "W" + std::to_string(w) + "V" + std::to_string(i);
            std::uint8_t data[32] = {};
            std::uint32_t type = 0;
            std::uint32_t size = sizeof data;
            ASSERT_EQ(zx::platform::posix::storeQuery(key, name.c_str(), &type, data, &size),
                      zx::platform::StoreResult::Ok)
                << name;
            EXPECT_STREQ(reinterpret_cast<const char*>(data), name.c_str());
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Vendors, Concurrency, ::testing::Values(Vendor::Nvidia, Vendor::Ati),
                         [](const auto& p) { return p.param == Vendor::Nvidia ? "Nvidia" : "Ati"; });

}  // namespace
