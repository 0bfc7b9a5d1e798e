// Named and start-up locks across real processes, and the runtime folder
// that holds their files.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/platform.h"
#include "platform/posix/posix_platform.h"
#include "support/test_env.h"

namespace {

using zx::platform::NamedLockResult;
using zx::platform::NativeHandle;

constexpr const char* kName = "ZXDisplayLibMutex";

zx::platform::Platform& os() { return zx::platform::native(); }

std::string lockFolder() { return zxtest::runtimeDir() + "/zxdisplaylib"; }

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

NamedLockResult probe(const char* name = kName) {
    NativeHandle h = 0;
    const NamedLockResult r = os().createNamedLock(name, h);
    if (r == NamedLockResult::Created) {
        os().releaseNamedLock(h);
    }
    return r;
}

TEST(PlatformNamedLock, SecondProbeInTheHoldingProcessSeesIt) {
    NativeHandle held = 0;
    ASSERT_EQ(os().createNamedLock(kName, held), NamedLockResult::Created);
    EXPECT_NE(held, 0);

    NativeHandle other = 12345;
    EXPECT_EQ(os().createNamedLock(kName, other), NamedLockResult::AlreadyExists);
    EXPECT_EQ(other, 0) << "nothing is handed out for a lock not taken";
    EXPECT_EQ(probe(), NamedLockResult::AlreadyExists) << "a refused probe must not disturb the holder";

    os().releaseNamedLock(held);
    EXPECT_EQ(probe(), NamedLockResult::Created);
}

TEST(PlatformNamedLock, DifferentNamesAreIndependent) {
    NativeHandle held = 0;
    ASSERT_EQ(os().createNamedLock("A", held), NamedLockResult::Created);
    EXPECT_EQ(probe("B"), NamedLockResult::Created);
    os().releaseNamedLock(held);
}

TEST(PlatformNamedLock, NamesThatAreNoPlainFileNameFail) {
    NativeHandle h = 0;
    EXPECT_EQ(os().createNamedLock("", h), NamedLockResult::Failed);
    EXPECT_EQ(os().createNamedLock(".startup", h), NamedLockResult::Failed);
    EXPECT_EQ(os().createNamedLock("../escape", h), NamedLockResult::Failed);
    EXPECT_EQ(os().createNamedLock(nullptr, h), NamedLockResult::Failed);
    EXPECT_EQ(h, 0);
}

TEST(PlatformNamedLock, HeldByAnotherProcessUntilItIsKilled) {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        NativeHandle h = 0;
        const char state = os().createNamedLock(kName, h) == NamedLockResult::Created ? 'h' : 'f';
        if (::write(ready[1], &state, 1) != 1) {
            ::_exit(1);
        }
        for (;;) {
            ::pause();
        }
    }
    ::close(ready[1]);
    char state = 0;
    ASSERT_EQ(::read(ready[0], &state, 1), 1);
    ::close(ready[0]);
    EXPECT_EQ(state, 'h');

    EXPECT_EQ(probe(), NamedLockResult::AlreadyExists);
    NativeHandle h = 0;
    EXPECT_EQ(os().createNamedLock(kName, h), NamedLockResult::AlreadyExists);

    ASSERT_EQ(::kill(child, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_EQ(os().createNamedLock(kName, h), NamedLockResult::Created);
    os().releaseNamedLock(h);
}

TEST(PlatformNamedLock, HandlesAreNeverZero) {
    // A process whose standard input is closed gets descriptor 0 from the
    // next open; 0 means "no handle" to the callers.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(0);
        NativeHandle h = 0;
        if (os().createNamedLock(kName, h) != NamedLockResult::Created || h == 0) {
            ::_exit(1);
        }
        if (probe() != NamedLockResult::AlreadyExists) {
            ::_exit(2);  // the lock must survive moving off descriptor 0
        }
        os().releaseNamedLock(h);
        ::_exit(0);
    }
    EXPECT_EQ(waitForExit(child), 0);
}

TEST(PlatformRuntimeFolder, IsCreatedPrivateWithPrivateLockFiles) {
    NativeHandle h = 0;
    ASSERT_EQ(os().createNamedLock(kName, h), NamedLockResult::Created);
    os().releaseNamedLock(h);
    EXPECT_TRUE(S_ISDIR(modeOf(lockFolder())));
    EXPECT_EQ(modeOf(lockFolder()) & 07777, 0700u);
    EXPECT_EQ(modeOf(lockFolder() + "/" + kName + ".lock") & 07777, 0600u);
}

TEST(PlatformRuntimeFolder, LooseModeIsTightened) {
    zxtest::makeDirs(lockFolder());
    ASSERT_EQ(::chmod(lockFolder().c_str(), 0777), 0);
    EXPECT_EQ(probe(), NamedLockResult::Created);
    EXPECT_EQ(modeOf(lockFolder()) & 07777, 0700u);
}

TEST(PlatformRuntimeFolder, LinkInPlaceOfTheFolderIsRefused) {
    const std::string elsewhere = zxtest::testRoot() + "/elsewhere";
    zxtest::makeDirs(elsewhere);
    ASSERT_EQ(::chmod(elsewhere.c_str(), 0700), 0);
    ASSERT_EQ(::symlink(elsewhere.c_str(), lockFolder().c_str()), 0);
    EXPECT_EQ(probe(), NamedLockResult::Failed);
    EXPECT_FALSE(zxtest::fileExists(elsewhere + "/" + kName + ".lock"));
}

TEST(PlatformRuntimeFolder, FolderOfAnotherUserIsRefused) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "giving a folder to another user needs root";
    }
    zxtest::makeDirs(lockFolder());
    ASSERT_EQ(::chmod(lockFolder().c_str(), 0700), 0);
    ASSERT_EQ(::chown(lockFolder().c_str(), 65534, 65534), 0);
    EXPECT_EQ(probe(), NamedLockResult::Failed);
    EXPECT_EQ(modeOf(lockFolder()) & 07777, 0700u);
    EXPECT_FALSE(zxtest::fileExists(lockFolder() + "/" + kName + ".lock"));
}

TEST(PlatformRuntimeFolder, WithoutXdgRuntimeDirAFolderOfOurOwnInTmp) {
    const std::string expected = "/tmp/zxdisplaylib-" + std::to_string(::geteuid());
    ::unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(zx::platform::posix::runtimeFolderPath(), expected);
    ::setenv("XDG_RUNTIME_DIR", "relative/run", 1);
    EXPECT_EQ(zx::platform::posix::runtimeFolderPath(), expected) << "a relative runtime folder is ignored";
}

}  // namespace
