// The machine-wide named lock within one process and across its threads
// (other processes and fork: the lock end-to-end tests).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "api/backend.h"
#include "api/state.h"
#include "platform/platform.h"
#include "platform/posix/posix_platform.h"
#include "support/test_env.h"
#include "zxdisplay.h"

namespace {

using zx::platform::NamedLockResult;
using zx::platform::NamedLockState;

constexpr const char* kName = "ZXDisplayLibMutex";

zx::platform::Platform& os() { return zx::platform::native(); }

mode_t modeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st.st_mode;
}

class PlatformNamedLock : public ::testing::Test {
protected:
    // Each test reaches the lock file of its own folder.
    void SetUp() override { zx::platform::posix::forgetNamedLocksForTesting(); }
    void TearDown() override { zx::platform::posix::forgetNamedLocksForTesting(); }
    static std::string lockFile() { return zxtest::lockDir() + "/" + kName; }
};

TEST_F(PlatformNamedLock, TakeProbeAndGiveBackInOneProcess) {
    const mode_t oldMask = ::umask(077);
    EXPECT_EQ(os().namedLockState(kName), NamedLockState::Free);
    ::umask(oldMask);
    EXPECT_EQ(modeOf(lockFile()), S_IFREG | 0666) << "every user must be able to open the lock file";
    ASSERT_EQ(os().takeNamedLock(kName), NamedLockResult::Created);
    EXPECT_EQ(os().namedLockState(kName), NamedLockState::HeldHere);
    EXPECT_EQ(os().takeNamedLock(kName), NamedLockResult::AlreadyExists);
    EXPECT_EQ(os().namedLockState(kName), NamedLockState::HeldHere);
    EXPECT_TRUE(os().releaseNamedLock(kName));
    EXPECT_FALSE(os().releaseNamedLock(kName));
    EXPECT_EQ(os().namedLockState(kName), NamedLockState::Free);
}

TEST_F(PlatformNamedLock, NamesThatAreNoPlainFileNameFail) {
    const std::string tooLong(64, 'x');
    for (const char* name : {static_cast<const char*>(nullptr), "", ".hidden", "../escape", tooLong.c_str()}) {
        SCOPED_TRACE(name == nullptr ? "null" : name);
        EXPECT_EQ(os().takeNamedLock(name), NamedLockResult::Failed);
        EXPECT_EQ(os().namedLockState(name), NamedLockState::Free);
        EXPECT_FALSE(os().releaseNamedLock(name));
    }
}

TEST_F(PlatformNamedLock, OfThreadsTakingAtOnceExactlyOneGetsIt) {
    constexpr int kThreads = 4;
    for (int round = 0; round < 100; ++round) {
        std::atomic<int> created{0};
        std::atomic<bool> go{false};
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&] {
                while (!go.load()) {
                }
                if (os().takeNamedLock(kName) == NamedLockResult::Created) {
                    ++created;
                }
            });
        }
        go = true;
        for (auto& t : threads) t.join();
        ASSERT_EQ(created.load(), 1) << "round " << round;
        ASSERT_TRUE(os().releaseNamedLock(kName));
    }
}

// Open descriptors of this process that refer to path.
int descriptorsOf(const std::string& path) {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        if (std::filesystem::read_symlink(entry.path(), ec).string() == path) {
            ++count;
        }
    }
    return count;
}

// Run under ThreadSanitizer in CI: threads take, give back and probe the
// lock through the exports while others call setters.
TEST_F(PlatformNamedLock, ThreadsTogglingTheLockWhileOthersCallSetters) {
    zx::Backend plain;  // answers NotSupported to every setter
    zx::overrideBackendsForTesting(&plain, &plain);
    zx::state().vendorKind = zx::VendorKind::Nvidia;
    const int bystander = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(bystander, 0);

    std::atomic<bool> stop{false};
    std::atomic<int> refused{0};
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&] {
            while (!stop.load()) {
                const ZXStatus took = ZXSetLockLibStatus(1);
                std::uint32_t status = 9;
                const ZXStatus got = ZXGetLockLibStatus(&status);
                const ZXStatus gave = ZXSetLockLibStatus(0);
                if (took > 1 || got != 0 || status > 1 || gave > 1) ++wrong;
            }
        });
    }
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back([&] {
            while (!stop.load()) {
                if (ZXSetFanSpeed(0, 0, 50, 0) == ZX_STATUS_LOCKED_BY_OTHER ||
                    ZXSetGPUClockDefault(0) == ZX_STATUS_LOCKED_BY_OTHER) {
                    ++refused;
                }
            }
        });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    stop = true;
    for (auto& t : threads) t.join();

    EXPECT_EQ(refused.load(), 0) << "a hold of this process never refuses its own setters";
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(descriptorsOf(lockFile()), 1) << "the lock file is opened once and kept";
    EXPECT_EQ(::fcntl(bystander, F_GETFD), FD_CLOEXEC) << "an unrelated descriptor was closed";
    ::close(bystander);
    ZXSetLockLibStatus(0);
    zx::overrideBackendsForTesting(nullptr, nullptr);
    zx::state() = zx::LibraryState{};
}

}  // namespace
