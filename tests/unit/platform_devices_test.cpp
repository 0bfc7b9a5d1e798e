// The device list, read from fake sysfs trees built under the test's root
// (endless and missing attribute files: HostileSysfs).
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/posix_io.h"
#include "support/fake_sysfs.h"
#include "support/test_env.h"

namespace {

using zx::platform::DeviceRecord;

std::string devicesDir() { return zxtest::sysfsRoot() + "/bus/pci/devices"; }

std::vector<DeviceRecord> list() {
    std::vector<DeviceRecord> out(1);
    EXPECT_TRUE(zx::platform::native().listDevices(out));
    return out;
}

// The hardware IDs of an instance ID, up to the backslash before its suffix.
std::string hardwareIds(const DeviceRecord& d) { return d.instanceId.substr(0, d.instanceId.rfind('\\') + 1); }

TEST(PlatformDevices, RendersWindowsStyleTextsInAddressOrder) {
    zxtest::addPciDevice("0001:01:00.0");
    zxtest::addPciDevice("0000:1a:1f.3", "1002_9A1F_8AA1_1043");
    zxtest::addPciDevice("0000:01:00.0");
    const auto devices = list();
    ASSERT_EQ(devices.size(), 3u);
    // The subsystem device comes before its vendor; location numbers are decimal.
    EXPECT_EQ(hardwareIds(devices[0]), "PCI\\VEN_10DE&DEV_0611&SUBSYS_A1027A3C&REV_A2\\");
    EXPECT_EQ(devices[0].location, "PCI bus 1, device 0, function 0;(1,0,0)");
    EXPECT_EQ(hardwareIds(devices[1]), "PCI\\VEN_1002&DEV_9A1F&SUBSYS_8AA11043&REV_A2\\");
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
    const std::pair<std::uint32_t, const char*> cases[] = {
        {0x030000, "Display"}, {0x038000, "Display"}, {0x040300, "MEDIA"}, {0x0c0330, "USB"}, {0xff0000, "Unknown"},
        {0x010600, "HDC"},     {0x020000, "Net"},     {0x070000, "Ports"}, {0x090000, "HIDClass"}, {0x0a0000, "Unknown"},
        {0x0d1100, "Net"},     {0x110000, "System"},  {0x0b4000, "Unknown"}};
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        zxtest::addPciDevice("0000:" + std::string(1, "0123456789abcdef"[i + 1]) + "0:00.0", zxtest::kNvidiaCard,
                             cases[i].first);
    }
    const auto devices = list();
    ASSERT_EQ(devices.size(), std::size(cases));
    for (std::size_t i = 0; i < devices.size(); ++i) {
        EXPECT_EQ(devices[i].setupClass, cases[i].second) << cases[i].first;
    }
}

TEST(PlatformDevices, VendorAndDeviceAreNeededTheRestIsOptional) {
    const auto put = [](const std::string& address, const char* file, const std::string& text) {
        zxtest::writeFile(devicesDir() + "/" + address + "/" + file, text);
    };
    for (const char* address : {"0000:02:00.0", "0000:03:00.0", "0000:04:00.0", "odd-name"}) {
        zxtest::addPciDevice(address);
    }
    put("0000:02:00.0", "device", "0xzz\n");
    put("0000:03:00.0", "vendor", "0x123456\n");
    put("odd-name", "device", "0xffff\n");  // the largest value, and a prefix of either case
    put("odd-name", "revision", "0XA" + std::string(4093, '\n'));  // a whole page, as sysfs may give
    for (const char* file : {"subsystem_vendor", "subsystem_device", "revision", "class"}) {
        ::unlink((devicesDir() + "/0000:04:00.0/" + file).c_str());
    }
    zxtest::writeFile(devicesDir() + "/0000:05:00.0", "not a folder");
    ASSERT_EQ(::symlink("../../../devices/gone", (devicesDir() + "/0000:06:00.0").c_str()), 0);
    const auto devices = list();
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(hardwareIds(devices[0]), "PCI\\VEN_10DE&DEV_0611&SUBSYS_00000000&REV_00\\");
    EXPECT_FALSE(devices[0].hasClass);
    EXPECT_EQ(devices[0].location, "PCI bus 4, device 0, function 0;(4,0,0)");
    EXPECT_EQ(hardwareIds(devices[1]), "PCI\\VEN_10DE&DEV_FFFF&SUBSYS_A1027A3C&REV_0A\\");
    EXPECT_TRUE(devices[1].hasClass);
    EXPECT_FALSE(devices[1].hasLocation) << "a name that is no PCI address gives no location";
}

TEST(PlatformDevices, AnEmptyFolderGivesAnEmptyListAMissingOneFails) {
    EXPECT_TRUE(list().empty());
    zxtest::removeTree(devicesDir());
    std::vector<DeviceRecord> out;
    EXPECT_FALSE(zx::platform::native().listDevices(out));
}

// With standard input closed, the next descriptor the system hands out is 0,
// which callers would take for "no context".
TEST(PlatformDevices, ADeviceContextIsNeverDescriptorZero) {
    zxtest::addDrmCard(0, true);
    const int savedInput = ::dup(0);
    ::close(0);
    const zx::platform::NativeHandle context = zx::platform::native().createDeviceContext("card0");
    ::dup2(savedInput, 0);
    ::close(savedInput);
    EXPECT_GT(context, 0);
    zx::platform::native().deleteDeviceContext(context);
}

// Only "card" and a number name a display device.
TEST(PlatformDevices, ACardFolderWithoutANumberIsNoDisplay) {
    zxtest::makeDirs(zxtest::sysfsRoot() + "/class/drm/card");
    zxtest::addDrmCard(0, true);
    zx::platform::DisplayDevice display;
    ASSERT_TRUE(zx::platform::native().displayDevice(0, display));
    EXPECT_EQ(display.name, "card0");
    EXPECT_FALSE(zx::platform::native().displayDevice(1, display));
}

// Unset or empty, the variable leaves the system's own sysfs.
TEST(PlatformDevices, TheSysfsRootComesFromTheEnvironment) {
    const std::string saved = zxtest::sysfsRoot();
    const std::pair<const char*, const char*> cases[] = {{nullptr, "/sys"}, {"", "/sys"}, {"/x", "/x"}};
    for (const auto& [value, root] : cases) {
        if (value == nullptr) {
            ::unsetenv("ZXDISPLAY_SYSFS_ROOT");
        } else {
            ::setenv("ZXDISPLAY_SYSFS_ROOT", value, 1);
        }
        EXPECT_EQ(zx::platform::posix::sysfsRoot(), root) << (value == nullptr ? "unset" : value);
    }
    ::setenv("ZXDISPLAY_SYSFS_ROOT", saved.c_str(), 1);
}

}  // namespace
