// The start-up lock as flock() on a file in a per-user runtime folder.
// flock belongs to the open file description, so the kernel drops it when the
// holder ends in any way (SIGKILL included) and two opens in one process
// conflict just as two processes do.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/posix/posix_io.h"
#include "platform/posix/posix_platform.h"

namespace zx::platform::posix {

namespace {

constexpr const char* kStartupLockFile = ".startup.lock";

// Opens (creating when missing) a lock file in the runtime folder. Lock files
// are never unlinked: removing one while another process is about to lock it
// would let two holders lock two different files.
int openLockFile(const char* fileName) {
    const int dir = openPrivateFolder(runtimeFolderPath());
    if (dir < 0) {
        return -1;
    }
    const int fd = ::openat(dir, fileName, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600);
    ::close(dir);
    return fd < 0 ? -1 : avoidDescriptorZero(fd);
}

int flockRetrying(int fd, int operation) {
    int rc = 0;
    do {
        rc = ::flock(fd, operation);
    } while (rc != 0 && errno == EINTR);
    return rc;
}

}  // namespace

std::string runtimeFolderPath() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/') {
        std::string base = runtime;
        while (base.size() > 1 && base.back() == '/') {
            base.pop_back();
        }
        return base + "/zxdisplaylib";
    }
    // Processes outside a login session (cron, sudo -u) often lack the
    // variable; the session's folder, when the user has one, keeps them on the
    // same lock as the user's other processes.
    const std::string session = "/run/user/" + std::to_string(::geteuid());
    struct stat st {};
    if (::lstat(session.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid()) {
        return session + "/zxdisplaylib";
    }
    // Else a folder of our own in /tmp; the sticky bit there keeps other users
    // from moving it away.
    return "/tmp/zxdisplaylib-" + std::to_string(::geteuid());
}

int openPrivateFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        return -1;
    }
    // O_NOFOLLOW refuses a link planted in the folder's place; the checks then
    // run on the very folder that the lock files will be opened in.
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
        ::close(fd);
        return -1;
    }
    if ((st.st_mode & 07777) != 0700) {
        if (::fchmod(fd, 0700) != 0 || ::fstat(fd, &st) != 0 || (st.st_mode & 07777) != 0700) {
            ::close(fd);
            return -1;
        }
    }
    return fd;
}

NativeHandle acquireStartupLock() {
    const int fd = openLockFile(kStartupLockFile);
    if (fd < 0) {
        return 0;
    }
    if (flockRetrying(fd, LOCK_EX) != 0) {
        ::close(fd);
        return 0;
    }
    return fd;
}

void releaseStartupLock(NativeHandle handle) {
    if (handle > 0) {
        const int fd = static_cast<int>(handle);
        ::flock(fd, LOCK_UN);
        ::close(fd);
    }
}

}  // namespace zx::platform::posix
