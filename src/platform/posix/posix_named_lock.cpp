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
// its own at its next use.
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

#include "platform/posix/posix_platform.h"

namespace zx::platform::posix {

namespace {

constexpr const char* kDefaultLockFolder = "/dev/shm";
constexpr std::size_t kMaxLocks = 4;
constexpr std::size_t kMaxNameLength = 63;

enum Hold : int {
    kFree,  // this process does not hold the lock
    kBusy,  // a thread of this process is taking or giving it back
    kHeld,  // this process holds the lock
};

struct LockSlot {
    std::atomic<bool> used{false};
    char name[kMaxNameLength + 1]{};
    char path[PATH_MAX]{};
    std::atomic<int> fd{-1};  // -1 until the file is open
    std::atomic<int> hold{kFree};
};

LockSlot g_slots[kMaxLocks];
// Guards filling slots and opening files; held across fork() so that the
// child never inherits it locked by a thread it does not have.
std::mutex g_mutex;
bool g_forkHandlersInstalled = false;

void beforeFork() { g_mutex.lock(); }
void afterForkInParent() { g_mutex.unlock(); }

// The child shares its parent's descriptions: it must neither report nor give
// back the parent's hold, and must not keep the lock alive after the parent
// ends. Closing its copy leaves the parent's lock in place.
void afterForkInChild() {
    for (auto& slot : g_slots) {
        const int fd = slot.fd.exchange(-1);
        if (fd >= 0) {
            ::close(fd);
        }
        slot.hold.store(kFree);
    }
    g_mutex.unlock();
}

bool validName(const char* name) {
    return name != nullptr && name[0] != '\0' && name[0] != '.' && std::strchr(name, '/') == nullptr &&
           std::strlen(name) <= kMaxNameLength;
}

const char* lockFolder() {
    const char* folder = std::getenv(kLockFolderVariable);
    return folder != nullptr && folder[0] == '/' ? folder : kDefaultLockFolder;
}

LockSlot* findSlot(const char* name) {
    for (auto& slot : g_slots) {
        if (slot.used.load(std::memory_order_acquire) && std::strcmp(slot.name, name) == 0) {
            return &slot;
        }
    }
    return nullptr;
}

// The slot of name, made at its first use; nullptr for a name that cannot
// be a file name or when every slot is taken.
LockSlot* slotFor(const char* name) {
    if (name == nullptr) {
        return nullptr;
    }
    if (LockSlot* slot = findSlot(name)) {
        return slot;
    }
    if (!validName(name)) {
        return nullptr;
    }
    std::lock_guard<std::mutex> guard(g_mutex);
    if (LockSlot* slot = findSlot(name)) {
        return slot;
    }
    if (!g_forkHandlersInstalled) {
        if (::pthread_atfork(beforeFork, afterForkInParent, afterForkInChild) != 0) {
            return nullptr;
        }
        g_forkHandlersInstalled = true;
    }
    for (auto& slot : g_slots) {
        if (!slot.used.load(std::memory_order_relaxed)) {
            std::strcpy(slot.name, name);
            const int n = std::snprintf(slot.path, sizeof slot.path, "%s/%s", lockFolder(), name);
            if (n < 0 || static_cast<std::size_t>(n) >= sizeof slot.path) {
                slot.path[0] = '\0';  // too long: the lock cannot be reached
            }
            slot.used.store(true, std::memory_order_release);
            return &slot;
        }
    }
    return nullptr;
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

// The slot's descriptor, opened at the first call; -1 while it cannot be.
int descriptor(LockSlot& slot) {
    const int fd = slot.fd.load(std::memory_order_acquire);
    if (fd >= 0) {
        return fd;
    }
    std::lock_guard<std::mutex> guard(g_mutex);
    if (slot.fd.load(std::memory_order_relaxed) < 0) {
        slot.fd.store(openLockFile(slot.path), std::memory_order_release);
    }
    return slot.fd.load(std::memory_order_relaxed);
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

}  // namespace

NamedLockResult PosixPlatform::takeNamedLock(const char* name) {
    LockSlot* slot = slotFor(name);
    if (slot == nullptr) {
        return NamedLockResult::Failed;
    }
    // Our own description never conflicts with itself, so a hold of this
    // process (or a take under way in another thread) is refused here.
    int expected = kFree;
    if (!slot->hold.compare_exchange_strong(expected, kBusy, std::memory_order_acq_rel)) {
        return NamedLockResult::AlreadyExists;
    }
    NamedLockResult result = NamedLockResult::Failed;
    const int fd = descriptor(*slot);
    if (fd >= 0) {
        struct flock fl = wholeFile(F_WRLCK);
        if (fcntlRetrying(fd, F_OFD_SETLK, &fl) == 0) {
            result = NamedLockResult::Created;
        } else if (errno == EAGAIN || errno == EACCES) {
            result = NamedLockResult::AlreadyExists;
        }
    }
    slot->hold.store(result == NamedLockResult::Created ? kHeld : kFree, std::memory_order_release);
    return result;
}

NamedLockState PosixPlatform::namedLockState(const char* name) {
    LockSlot* slot = slotFor(name);
    if (slot == nullptr) {
        return NamedLockState::Free;
    }
    if (slot->hold.load(std::memory_order_acquire) == kHeld) {
        return NamedLockState::HeldHere;
    }
    const int fd = descriptor(*slot);
    if (fd < 0) {
        return NamedLockState::Free;
    }
    struct flock fl = wholeFile(F_WRLCK);
    if (fcntlRetrying(fd, F_OFD_GETLK, &fl) != 0) {
        return NamedLockState::Free;
    }
    return fl.l_type == F_UNLCK ? NamedLockState::Free : NamedLockState::HeldElsewhere;
}

bool PosixPlatform::releaseNamedLock(const char* name) {
    LockSlot* slot = slotFor(name);
    if (slot == nullptr) {
        return false;
    }
    int expected = kHeld;
    if (!slot->hold.compare_exchange_strong(expected, kBusy, std::memory_order_acq_rel)) {
        return false;
    }
    struct flock fl = wholeFile(F_UNLCK);
    fcntlRetrying(slot->fd.load(std::memory_order_acquire), F_OFD_SETLK, &fl);
    slot->hold.store(kFree, std::memory_order_release);
    return true;
}

void forgetNamedLocksForTesting() {
    std::lock_guard<std::mutex> guard(g_mutex);
    for (auto& slot : g_slots) {
        const int fd = slot.fd.exchange(-1);
        if (fd >= 0) {
            ::close(fd);
        }
        slot.hold.store(kFree);
        slot.used.store(false);
    }
}

}  // namespace zx::platform::posix
