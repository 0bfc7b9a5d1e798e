#include "support/fake_sysfs.h"

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <stdexcept>

#include "support/test_env.h"

namespace zxtest {

void addPciDevice(const std::string& address, const std::string& model, std::uint32_t pciClass) {
    const std::string real = sysfsRoot() + "/devices/pci0000:00/" + address;
    makeDirs(real);
    // "VVVV_DDDD_SSSS_BBBB": sysfs holds each as "0x" and lower-case hex.
    const char* files[] = {"vendor", "device", "subsystem_device", "subsystem_vendor"};
    for (int i = 0; i < 4; ++i) {
        std::string hex = model.substr(5 * static_cast<std::size_t>(i), 4);
        for (char& c : hex) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        writeFile(real + "/" + files[i], "0x" + hex + "\n");
    }
    writeFile(real + "/revision", "0xa2\n");
    char cls[16];
    std::snprintf(cls, sizeof cls, "0x%06x\n", pciClass);
    writeFile(real + "/class", cls);
    const std::string link = sysfsRoot() + "/bus/pci/devices/" + address;
    makeDirs(sysfsRoot() + "/bus/pci/devices");
    if (::symlink(real.c_str(), link.c_str()) != 0) throw std::runtime_error("cannot link " + link);
}

void addDrmCard(unsigned index, bool connected) {
    const std::string drm = sysfsRoot() + "/class/drm/card" + std::to_string(index);
    makeDirs(drm);
    makeDirs(drm + "-DP-1");
    writeFile(drm + "-DP-1/status", connected ? "connected\n" : "disconnected\n");
}

void clearSysfs() {
    removeTree(sysfsRoot());
    makeDirs(sysfsRoot());
}

}  // namespace zxtest
