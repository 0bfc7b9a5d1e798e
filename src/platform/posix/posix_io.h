// Small descriptor helpers shared by the Linux services, and where sysfs is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zx::platform::posix {

// Reads a whole regular file of at most maxSize bytes. Opened without blocking
// so that a FIFO planted at the path cannot hang the caller.
bool readRegularFile(const std::string& path, std::size_t maxSize, std::vector<std::uint8_t>& out);
// Writes all bytes, retrying short writes and interruptions.
bool writeAll(int fd, const void* data, std::size_t size);
// A descriptor other than 0, which the platform's handles reserve for "none":
// 0 is moved to a higher number (close-on-exec kept).
int avoidDescriptorZero(int fd);
// The sysfs root: ZXDISPLAY_SYSFS_ROOT when set and not empty, else "/sys".
std::string sysfsRoot();

}  // namespace zx::platform::posix
