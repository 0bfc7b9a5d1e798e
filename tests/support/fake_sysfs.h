// Builds fake sysfs trees under the current test's sysfs root ($ZXDISPLAY_SYSFS_ROOT), as the Linux kernel lays them
// out.
#pragma once

#include <cstdint>
#include <string>

namespace zxtest {

// Card models as the library names them: vendor, device, subsystem, board maker.
inline constexpr const char* kNvidiaCard = "10DE_0611_A102_7A3C";
inline constexpr const char* kAtiCard = "1002_9460_0502_7A3C";

// Adds one PCI function (under devices/<address>, linked from bus/pci/devices as the kernel does); entries are
// enumerated in name order.
void addPciDevice(const std::string& address, const std::string& model = kNvidiaCard,
                  std::uint32_t pciClass = 0x030000 /* display controller */);

// Adds DRM card N (display device N) under class/drm with one connector, connected or not: a connected card is attached
// to the desktop.
void addDrmCard(unsigned index, bool connected);

// Empties the sysfs root, for another machine in the same test.
void clearSysfs();

}  // namespace zxtest
