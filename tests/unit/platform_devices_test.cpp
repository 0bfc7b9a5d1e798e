// The device list, read from fake sysfs trees built under the test's root.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "support/test_env.h"

namespace {

using zx::platform::DeviceRecord;

struct FakePci {
    std::string name;  // the sysfs address, e.g. "0000:01:00.0"
    std::string vendor = "0x10de";
    std::string device = "0x0611";
    std::string subsystemVendor = "0x1458";
    std::string subsystemDevice = "0x3457";
    std::string revision = "0xa2";
    std::string pciClass = "0x030000";
};

std::string devicesDir() { return zxtest::sysfsRoot() + "/bus/pci/devices"; }

// As in real sysfs, the entry is by default a relative link to the device's
// folder elsewhere in the tree; an empty attribute leaves its file out.
void addDevice(const FakePci& d, bool asLink = true) {
    const std::string entry = devicesDir() + "/" + d.name;
    const std::string real = asLink ? zxtest::sysfsRoot() + "/devices/pci0000:00/" + d.name : entry;
    zxtest::makeDirs(real);
    const std::pair<const char*, std::string> attributes[] = {
        {"vendor", d.vendor},     {"device", d.device},     {"subsystem_vendor", d.subsystemVendor},
        {"subsystem_device", d.subsystemDevice}, {"revision", d.revision}, {"class", d.pciClass}};
    for (const auto& [file, value] : attributes) {
        if (!value.empty()) {
            zxtest::writeFile(real + "/" + file, value + "\n");
        }
    }
    if (asLink) {
        ASSERT_EQ(::symlink(("../../../devices/pci0000:00/" + d.name).c_str(), entry.c_str()), 0);
    }
}

std::vector<DeviceRecord> list() {
    std::vector<DeviceRecord> out(1);
    EXPECT_TRUE(zx::platform::native().listDevices(out));
    return out;
}

// The hardware IDs of an instance ID, up to the backslash before its suffix.
std::string hardwareIds(const DeviceRecord& d) { return d.instanceId.substr(0, d.instanceId.rfind('\\') + 1); }

TEST(PlatformDevices, RendersWindowsStyleTextsInAddressOrder) {
    addDevice({.name = "0001:01:00.0"});
    addDevice({.name = "0000:1a:1f.3",
               .vendor = "0x1002",
               .device = "0x9a1f",
               .subsystemVendor = "0x1043",
               .subsystemDevice = "0x8aa1",
               .revision = "0x0c"},
              false);
    addDevice({.name = "0000:01:00.0"});
    const auto devices = list();
    ASSERT_EQ(devices.size(), 3u);
    EXPECT_EQ(hardwareIds(devices[0]), "PCI\\VEN_10DE&DEV_0611&SUBSYS_34571458&REV_A2\\");
    EXPECT_EQ(devices[0].location, "PCI bus 1, device 0, function 0;(1,0,0)");
    // The subsystem device comes before its vendor; location numbers are decimal.
    EXPECT_EQ(hardwareIds(devices[1]), "PCI\\VEN_1002&DEV_9A1F&SUBSYS_8AA11043&REV_0C\\");
    EXPECT_EQ(devices[1].location, "PCI bus 26, device 31, function 3;(26,31,3)");
    EXPECT_EQ(devices[2].location, "PCI bus 1, device 0, function 0;(1,0,0)");
    // The suffix, without backslashes, tells apart the two functions on bus 1.
    EXPECT_EQ(devices[0].instanceId.find('\\', 4), hardwareIds(devices[0]).size() - 1);
    EXPECT_NE(devices[0].instanceId, devices[2].instanceId);
    for (const auto& d : devices) {
        EXPECT_EQ(d.setupClass, "Display");
        EXPECT_TRUE(d.hasClass && d.hasLocation);
    }
}

TEST(PlatformDevices, SetupClassFollowsThePciBaseClass) {
    const struct {
        const char* pciClass;
        const char* setupClass;
    } cases[] = {
        {"0x030000", "Display"}, {"0x030200", "Display"}, {"0x038000", "Display"}, {"0x040300", "MEDIA"},
        {"0x020000", "Net"},     {"0x0c0330", "USB"},     {"0x060400", "System"},  {"0xff0000", "Unknown"},
    };
    int bus = 1;
    for (const auto& c : cases) {
        char name[16];
        std::snprintf(name, sizeof name, "0000:%02x:00.0", bus++);
        addDevice({.name = name, .pciClass = c.pciClass});
    }
    const auto devices = list();
    ASSERT_EQ(devices.size(), std::size(cases));
    for (std::size_t i = 0; i < devices.size(); ++i) {
        EXPECT_EQ(devices[i].setupClass, cases[i].setupClass) << cases[i].pciClass;
    }
}

TEST(PlatformDevices, VendorAndDeviceAreNeededTheRestIsOptional) {
    addDevice({.name = "0000:01:00.0", .vendor = ""});
    addDevice({.name = "0000:02:00.0", .device = "0xzz"});
    addDevice({.name = "0000:03:00.0", .vendor = "0x123456"});
    addDevice({.name = "0000:04:00.0", .subsystemVendor = "", .subsystemDevice = "", .revision = "", .pciClass = ""});
    zxtest::writeFile(devicesDir() + "/0000:05:00.0", "not a folder");
    ASSERT_EQ(::symlink("../../../devices/gone", (devicesDir() + "/0000:06:00.0").c_str()), 0);
    addDevice({.name = "odd-name"});
    const auto devices = list();
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(hardwareIds(devices[0]), "PCI\\VEN_10DE&DEV_0611&SUBSYS_00000000&REV_00\\");
    EXPECT_FALSE(devices[0].hasClass);
    EXPECT_EQ(devices[0].location, "PCI bus 4, device 0, function 0;(4,0,0)");
    EXPECT_TRUE(devices[1].hasClass);
    EXPECT_FALSE(devices[1].hasLocation) << "a name that is no PCI address gives no location";
}

TEST(PlatformDevices, AnEmptyFolderGivesAnEmptyListAMissingOneFails) {
    EXPECT_TRUE(list().empty());
    zxtest::removeTree(devicesDir());
    std::vector<DeviceRecord> out;
    EXPECT_FALSE(zx::platform::native().listDevices(out));
}

}  // namespace
