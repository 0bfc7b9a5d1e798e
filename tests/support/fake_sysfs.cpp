#include "support/fake_sysfs.h"

#include <unistd.h>

#include <cstdio>
#include <stdexcept>

#include "support/test_env.h"

namespace zxtest {

namespace {

std::string hex(unsigned value, int digits) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%0*x\n", digits, value);
    return buf;
}

}  // namespace

FakePciDevice nvidiaCard(const std::string& address, std::uint16_t device, std::uint16_t subsystemDevice,
                         std::uint16_t subsystemVendor) {
    FakePciDevice d;
    d.address = address;
    d.vendor = 0x10DE;
    d.device = device;
    d.subsystemDevice = subsystemDevice;
    d.subsystemVendor = subsystemVendor;
    return d;
}

FakePciDevice atiCard(const std::string& address) {
    FakePciDevice d;
    d.address = address;
    d.vendor = 0x1002;
    d.device = 0x9460;
    d.subsystemDevice = 0x0502;
    d.subsystemVendor = 0x7A3C;
    return d;
}

FakePciDevice otherVendorDisplay(const std::string& address) {
    FakePciDevice d;
    d.address = address;
    d.vendor = 0x8086;
    d.device = 0x2E22;
    d.subsystemDevice = 0x0001;
    d.subsystemVendor = 0x8086;
    return d;
}

FakePciDevice audioFunctionOf(const FakePciDevice& card, const std::string& address) {
    FakePciDevice d = card;
    d.address = address;
    d.device = static_cast<std::uint16_t>(card.device + 1);
    d.pciClass = 0x040300;
    return d;
}

void addPciDevice(const FakePciDevice& d) {
    const std::string real = sysfsRoot() + "/devices/pci0000:00/" + d.address;
    makeDirs(real);
    writeFile(real + "/vendor", hex(d.vendor, 4));
    writeFile(real + "/device", hex(d.device, 4));
    writeFile(real + "/subsystem_vendor", hex(d.subsystemVendor, 4));
    writeFile(real + "/subsystem_device", hex(d.subsystemDevice, 4));
    writeFile(real + "/revision", hex(d.revision, 2));
    writeFile(real + "/class", hex(d.pciClass, 6));
    const std::string dir = sysfsRoot() + "/bus/pci/devices";
    makeDirs(dir);
    const std::string link = dir + "/" + d.address;
    if (::symlink(real.c_str(), link.c_str()) != 0) {
        throw std::runtime_error("cannot link " + link);
    }
}

void addDrmCard(unsigned index, bool connected) {
    const std::string drm = sysfsRoot() + "/class/drm/card" + std::to_string(index);
    makeDirs(drm);
    makeDirs(drm + "-DP-1");
    writeFile(drm + "-DP-1/status", connected ? "connected\n" : "disconnected\n");
}

std::string cardIdOf(const FakePciDevice& d) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04X_%04X_%04X_%04X", d.vendor, d.device, d.subsystemDevice, d.subsystemVendor);
    return buf;
}

}  // namespace zxtest
