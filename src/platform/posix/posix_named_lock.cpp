// The machine-wide named lock: an open-file-description lock (F_OFD_SETLK) on
// a file in /dev/shm that every user can open. The kernel ties the lock to
// the open file description, so it is freed when the holder ends in any way
// (SIGKILL included) and F_OFD_GETLK can tell whether anyone holds it without
// taking it.
//
// Each name gets one descriptor, opened at first use and kept open for the
// life of the process: the lock tests then cost one fcntl() and nothing is
// ever closed while another thread may use it. A forked child shares its
// parent's description, so the child forgets it at fork() and opens one of
// its own at its next use. The name table and the hold state between threads
// are in platform/named_lock_slots.h.
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/named_lock_slots.h"
#include "platform/posix/posix_platform.h"

namespace zx::platform::posix {

namespace {

constexpr const char* kDefaultLockFolder = "/dev/shm";

// Per slot of the name table: the lock file's path and its descriptor.
struct LockFile {
    char path[PATH_MAX]{};
    std::atomic<int> fd{-1};  // -1 until the file is open
};

LockFile g_files[NamedLockSlots::kMaxLocks];
// Guards filling slots and opening files; held across fork() so that the
// child never inherits it locked by a thread it does not have.
std::mutex g_mutex;
bool g_forkHandlersInstalled = false;

const char* lockFolder() {
    const char* folder = std::getenv(kLockFolderVariable);
    return folder != nullptr && folder[0] == '/' ? folder : kDefaultLockFolder;
}

// Opens the lock file, creating it for everyone when missing. An existing
// file is opened without O_CREAT: with fs.protected_regular a creating open
// of another user's file in a sticky folder is refused. Links are never
// followed, and only a regular file will do.
int openLockFile(const char* path) {
    constexpr int kFlags = O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    if (path[0] == '\0') {
        return -1;
    }
    int fd = -1;
    for (int attempt = 0; attempt < 3 && fd < 0; ++attempt) {
        fd = ::open(path, kFlags);
        if (fd >= 0 || errno != ENOENT) {
            break;
        }
        fd = ::open(path, kFlags | O_CREAT | O_EXCL, 0666);
        if (fd >= 0) {
            // The umask may have narrowed the mode; every user must be able
            // to open the file.
            ::fchmod(fd, 0666);
        } else if (errno != EEXIST) {
            break;
        }
    }
    if (fd < 0) {
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// The descriptor of slot index, opened at the first call; -1 while it cannot be.
int descriptor(std::size_t index) {
    LockFile& file = g_files[index];
    const int fd = file.fd.load(std::memory_order_acquire);
    if (fd >= 0) {
        return fd;
    }
    std::lock_guard<std::mutex> guard(g_mutex);
    if (file.fd.load(std::memory_order_relaxed) < 0) {
        file.fd.store(openLockFile(file.path), std::memory_order_release);
    }
    return file.fd.load(std::memory_order_relaxed);
}

struct flock wholeFile(short type) {
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;  // l_start 0, l_len 0: the whole file; l_pid must be 0
    return fl;
}

int fcntlRetrying(int fd, int command, struct flock* fl) {
    int rc = 0;
    do {
        rc = ::fcntl(fd, command, fl);
    } while (rc != 0 && errno == EINTR);
    return rc;
}

// Closes every lock file of this process's table.
void closeLockFiles() {
    for (auto& file : g_files) {
        const int fd = file.fd.exchange(-1);
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

class PosixLockSlots final : public NamedLockSlots {
public:
    constexpr PosixLockSlots() = default;

private:
    bool admits(const char* name) const override { return name[0] != '.' && std::strchr(name, '/') == nullptr; }
    void lockTable() override { g_mutex.lock(); }
    void unlockTable() override { g_mutex.unlock(); }
    bool prepare(std::size_t index, const char* name) override;
    NamedLockResult takeLock(std::size_t index, const char* name) override;
    void releaseLock(std::size_t index) override;
    NamedLockState probe(std::size_t index, const char* name) override;
};

constinit PosixLockSlots g_locks;

void beforeFork() { g_mutex.lock(); }
void afterForkInParent() { g_mutex.unlock(); }

// The child shares its parent's descriptions: it must neither report nor give
// back the parent's hold, and must not keep the lock alive after the parent
// ends. Closing its copy leaves the parent's lock in place.
void afterForkInChild() {
    closeLockFiles();
    g_locks.forgetHolds();
    g_mutex.unlock();
}

bool PosixLockSlots::prepare(std::size_t index, const char* name) {
    if (!g_forkHandlersInstalled) {
        if (::pthread_atfork(beforeFork, afterForkInParent, afterForkInChild) != 0) {
            return false;
        }
        g_forkHandlersInstalled = true;
    }
    char* path = g_files[index].path;
    const int n = std::snprintf(path, PATH_MAX, "%s/%s", lockFolder(), name);
    if (n < 0 || n >= PATH_MAX) {
        path[0] = '\0';  // too long: the lock cannot be reached
    }
    return true;
}

// Our own description never conflicts with itself: the hold state has already
// refused a hold of this process (or a take under way in another thread).
NamedLockResult PosixLockSlots::takeLock(std::size_t index, const char*) {
    const int fd = descriptor(index);
    if (fd < 0) {
        return NamedLockResult::Failed;
    }
    struct flock fl = wholeFile(F_WRLCK);
    if (fcntlRetrying(fd, F_OFD_SETLK, &fl) == 0) {
        return NamedLockResult::Created;
    }
    return errno == EAGAIN || errno == EACCES ? NamedLockResult::AlreadyExists : NamedLockResult::Failed;
}

void PosixLockSlots::releaseLock(std::size_t index) {
    struct flock fl = wholeFile(F_UNLCK);
    fcntlRetrying(g_files[index].fd.load(std::memory_order_acquire), F_OFD_SETLK, &fl);
}

NamedLockState PosixLockSlots::probe(std::size_t index, const char*) {
    const int fd = descriptor(index);
    if (fd < 0) {
        return NamedLockState::Free;
    }
    struct flock fl = wholeFile(F_WRLCK);
    if (fcntlRetrying(fd, F_OFD_GETLK, &fl) != 0) {
        return NamedLockState::Free;
    }
    return fl.l_type == F_UNLCK ? NamedLockState::Free : NamedLockState::HeldElsewhere;
}

}  // namespace

NamedLockResult PosixPlatform::takeNamedLock(const char* name) { return g_locks.take(name); }

NamedLockState PosixPlatform::namedLockState(const char* name) { return g_locks.state(name); }

bool PosixPlatform::releaseNamedLock(const char* name) { return g_locks.release(name); }

void forgetNamedLocksForTesting() {
    std::lock_guard<std::mutex> guard(g_mutex);
    closeLockFiles();
    g_locks.forgetNames();
}

}  // namespace zx::platform::posix
