// The machine-wide named lock across real processes and threads.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <cstdlib>
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
using zx::platform::NativeHandle;

constexpr const char* kName = "ZXDisplayLibMutex";

zx::platform::Platform& os() { return zx::platform::native(); }

mode_t modeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st.st_mode;
}

int waitForExit(pid_t pid) {
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

// Runs check in a forked child; its result is the child's exit code.
template <class Check>
pid_t inChild(Check check) {
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(check());
    }
    return child;
}

void send(int fd, char c) { ASSERT_EQ(::write(fd, &c, 1), 1); }
char receive(int fd) {
    char c = 0;
    return ::read(fd, &c, 1) == 1 ? c : '?';
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

TEST_F(PlatformNamedLock, HeldByAnotherProcessUntilItIsKilled) {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = inChild([&] {
        const char state = os().takeNamedLock(kName) == NamedLockResult::Created ? 'h' : 'f';
        if (::write(ready[1], &state, 1) != 1) {
            return 1;
        }
        for (;;) {
            ::pause();
        }
    });
    ASSERT_GT(child, 0);
    ::close(ready[1]);  // a child that fails ends the read
    EXPECT_EQ(receive(ready[0]), 'h');

    EXPECT_EQ(os().namedLockState(kName), NamedLockState::HeldElsewhere);
    EXPECT_EQ(os().takeNamedLock(kName), NamedLockResult::AlreadyExists);
    EXPECT_FALSE(os().releaseNamedLock(kName));

    ASSERT_EQ(::kill(child, SIGKILL), 0);
    ASSERT_EQ(::waitpid(child, nullptr, 0), child);
    EXPECT_EQ(os().namedLockState(kName), NamedLockState::Free);
    EXPECT_EQ(os().takeNamedLock(kName), NamedLockResult::Created);
}

// A forked child shares its parent's open file descriptions; it must neither
// report, give back nor keep alive the parent's hold.
TEST_F(PlatformNamedLock, AForkedChildDoesNotHoldItsParentsLock) {
    ASSERT_EQ(os().takeNamedLock(kName), NamedLockResult::Created);
    int toParent[2];
    int toChild[2];
    ASSERT_EQ(::pipe(toParent), 0);
    ASSERT_EQ(::pipe(toChild), 0);
    const pid_t child = inChild([&] {
        if (os().namedLockState(kName) != NamedLockState::HeldElsewhere) return 1;
        if (os().takeNamedLock(kName) != NamedLockResult::AlreadyExists) return 2;
        if (os().releaseNamedLock(kName)) return 3;
        send(toParent[1], 'c');
        if (receive(toChild[0]) != 'r') return 4;
        // The parent gave it back: the child's own description can take it.
        return os().takeNamedLock(kName) == NamedLockResult::Created ? 0 : 5;
    });
    ASSERT_GT(child, 0);
    ::close(toParent[1]);  // a child that fails ends the read
    EXPECT_EQ(receive(toParent[0]), 'c');
    EXPECT_EQ(os().namedLockState(kName), NamedLockState::HeldHere);
    EXPECT_TRUE(os().releaseNamedLock(kName));
    send(toChild[1], 'r');
    EXPECT_EQ(waitForExit(child), 0);
    EXPECT_EQ(os().takeNamedLock(kName), NamedLockResult::Created) << "the child's hold ended with it";
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
