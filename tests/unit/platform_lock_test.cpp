// The machine-wide named lock within one process and across its threads
// (other processes and fork: the lock end-to-end tests; threads toggling it
// while others call setters: the concurrency tests).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/posix_platform.h"
#include "support/test_env.h"

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

// A daemon may run without standard input: its lock file is then descriptor 0.
TEST_F(PlatformNamedLock, TakenWithStandardInputClosed) {
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(0);
        ::_exit(os().takeNamedLock(kName) == NamedLockResult::Created ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
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

// Something other than a plain file at the lock's path (here a pipe, which
// opens and locks like one) is never taken for the lock.
TEST_F(PlatformNamedLock, APipeAtTheLockPathIsNoLock) {
    ASSERT_EQ(::mkfifo(lockFile().c_str(), 0666), 0);
    EXPECT_EQ(os().takeNamedLock(kName), NamedLockResult::Failed);
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

}  // namespace
