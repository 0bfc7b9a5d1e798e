// Builds fake sysfs PCI trees under the current test's sysfs root
// ($ZXDISPLAY_SYSFS_ROOT), as the Linux kernel lays them out.
#pragma once

#include <cstdint>
#include <string>

namespace zxtest {

struct FakePciDevice {
    std::string address = "0000:01:00.0";  // entries are enumerated in name order
    std::uint16_t vendor = 0x10DE;
    std::uint16_t device = 0x0611;
    std::uint16_t subsystemVendor = 0x7A3C;
    std::uint16_t subsystemDevice = 0xA102;
    std::uint8_t revision = 0xA2;
    std::uint32_t pciClass = 0x030000;  // display controller
};

// Common cards.
FakePciDevice nvidiaCard(const std::string& address, std::uint16_t device = 0x0611,
                         std::uint16_t subsystemDevice = 0xA102, std::uint16_t subsystemVendor = 0x7A3C);
FakePciDevice atiCard(const std::string& address);
FakePciDevice otherVendorDisplay(const std::string& address);
FakePciDevice audioFunctionOf(const FakePciDevice& card, const std::string& address);

// Adds one device below the current test's sysfs root (under
// devices/<address>, linked from bus/pci/devices as the kernel does).
void addPciDevice(const FakePciDevice& device);

// Adds DRM card N (display device N) under class/drm with one connector,
// connected or not: a connected card is attached to the desktop.
void addDrmCard(unsigned index, bool connected);

// "VVVV_DDDD_SSSS_BBBB" as the library names the card model.
std::string cardIdOf(const FakePciDevice& device);

}  // namespace zxtest
