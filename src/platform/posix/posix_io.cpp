#include "platform/posix/posix_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>

namespace zx::platform::posix {

bool readRegularFile(const std::string& path, std::size_t maxSize, std::vector<std::uint8_t>& out) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || static_cast<std::uint64_t>(st.st_size) > maxSize) {
        ::close(fd);
        return false;
    }
    // The size may change while reading: read to the end, but stop as soon as
    // more than maxSize bytes have come.
    const std::size_t limit = maxSize < SIZE_MAX ? maxSize + 1 : SIZE_MAX;
    std::vector<std::uint8_t> data(static_cast<std::size_t>(st.st_size) + 1);
    std::size_t used = 0;
    bool ok = true;
    for (;;) {
        if (used == data.size()) {
            if (used > maxSize) {
                ok = false;
                break;
            }
            data.resize(used <= limit / 2 ? used * 2 : limit);
        }
        const ssize_t n = ::read(fd, data.data() + used, data.size() - used);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            ok = false;
            break;
        }
        if (n == 0) {
            break;
        }
        used += static_cast<std::size_t>(n);
    }
    ::close(fd);
    if (!ok || used > maxSize) {
        return false;
    }
    data.resize(used);
    out = std::move(data);
    return true;
}

bool writeAll(int fd, const void* data, std::size_t size) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

int avoidDescriptorZero(int fd) {
    if (fd != 0) {
        return fd;
    }
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 1);
    ::close(fd);
    return moved;
}

std::string sysfsRoot() {
    const char* root = std::getenv("ZXDISPLAY_SYSFS_ROOT");
    return (root != nullptr && root[0] != '\0') ? root : "/sys";
}

}  // namespace zx::platform::posix
