// Hostile answers from outside the library that the other tests do not
// already cover (docs/robustness.md lists every case and where it is tested):
// a driver with level counts the records cannot hold, an I2C device that
// answers with noise, a profile of 10,000 sections and 100 KB lines, store
// values that are not numbers, sysfs and DRM files that are empty, garbage or
// endless, a store that cannot be written. Each case starts the library on a
// simulated machine; afterwards every export must answer within the
// documented set with its outputs zero unless it succeeded, and the case's own
// check must hold.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "api/state.h"
#include "ati/ati_profile.h"
#include "nv/nv_state.h"
#include "nv/nv_store.h"
#include "platform/posix/posix_platform.h"
#include "support/in_process_machine.h"
#include "support/test_env.h"
#include "zxdisplay.h"

namespace {

using namespace zxtest::inproc;

struct HostileCase {
    const char* name;
    Vendor vendor;
    std::string scenario;  // lines added to the machine's scenario; "=..." replaces it
    std::function<void(zxtest::FakePlatform&)> prepare;       // before start-up
    std::function<void(ZXStatus started)> check;              // after start-up
};

std::string repeat(char c, std::size_t n) { return std::string(n, c); }

// A profile of 10,000 sections with the card's section last and a 100 KB line
// in every 1000th section and in the card's description.
std::string hugeProfile(const char* cardSection) {
    std::string text;
    for (int i = 0; i < 10000; ++i) {
        text += "[Other" + std::to_string(i) + "]\nGPUVoltageMax=9\n";
        if (i % 1000 == 0) {
            text += "Filler=" + repeat('x', 100 * 1024) + "\n";
        }
    }
    text += std::string("[") + cardSection + "]\nMemoryVoltageStep=1\nMemoryVoltageMax=3\nPWMClockStep=1\nPWMClockMax=1\n";
    text += "VGAInfoString0=" + repeat('D', 100 * 1024) + "\n";
    return text;
}

void putCardData(zxtest::FakePlatform& os, const char* file, const std::string& profile) {
    os.putFile(std::string("/opt/host/") + file, zxtest::hexOf(profile));
}

void storeText(zxtest::FakePlatform& os, const std::string& key, const char* name, std::uint32_t type,
               const std::string& bytes) {
    os.store[zxtest::FakePlatform::normaliseKey(key)][zxtest::FakePlatform::normaliseKey(name)] =
        zxtest::FakePlatform::StoreValue{type, std::vector<std::uint8_t>(bytes.begin(), bytes.end())};
}

// The machine's card with a device answering noise in place of its pin
// controller.
std::string noisyScenario() {
    std::string s = kNvScenario;
    const std::string regulator = "regulator kind=1 base=800 step=25\n";
    s.replace(s.find(regulator), regulator.size(), "device addr=0x3E type=noisy\n");
    return s;
}

const std::string kAtiKey = std::string(zx::ati::kStoreKeyPrefix) + "1002_9460_0502_7A3C";

std::vector<HostileCase> cases() {
    return {
        {"NvidiaNoLevels", Vendor::Nvidia, "=gpu bus=1 levels=0\nthermal temp=50\ncooler level=40\n", nullptr, nullptr},
        {"AtiNoLevels", Vendor::Ati, "od count=0\n", nullptr, nullptr},
        {"AtiHugeLevelCount", Vendor::Ati, "od count=2147483647\n", nullptr,
         [](ZXStatus started) { EXPECT_EQ(started, ZX_STATUS_FAILED); }},
        {"NvidiaNoisyPinController", Vendor::Nvidia, "=" + noisyScenario(), nullptr,
         [](ZXStatus started) {
             ASSERT_EQ(started, ZX_STATUS_OK);
             // Whatever the pins read, the answers stay on the card's scales.
             for (int i = 0; i < 50; ++i) {
                 std::uint32_t voltage = 0, level = 0;
                 if (ZXGetCurrentVoltage(0, &voltage, &level) == ZX_STATUS_OK) {
                     EXPECT_TRUE(voltage >= 800 && voltage <= 1300) << voltage;
                 }
                 if (ZXGetCurrentMemoryVoltageLevel(0, &level) == ZX_STATUS_OK) {
                     EXPECT_LE(level, 3u);
                 }
                 if (ZXGetCurrentPWMClockLevel(0, &level) == ZX_STATUS_OK) {
                     EXPECT_LE(level, 1u);
                 }
                 EXPECT_LE(ZXSetCurrentVoltageLevel(0, 1000 + 25 * (i % 8)), ZX_STATUS_FAILED);
             }
         }},
        {"NvidiaHugeProfile", Vendor::Nvidia, "",
         [](zxtest::FakePlatform& os) { putCardData(os, "NVVGA.DAT", hugeProfile("10DE_0622_B111_7A3C")); },
         [](ZXStatus started) {
             ASSERT_EQ(started, ZX_STATUS_OK);
             ZXVgaInfoDescription d{};
             ASSERT_EQ(ZXGetVGAInfoDescription(0, &d), ZX_STATUS_OK);
             EXPECT_EQ(d.count, 1u);
             EXPECT_EQ(std::string(d.strings[0]), repeat('D', 39));
             ZXRangeInfo r{};
             EXPECT_EQ(ZXGetMemoryVoltageInfo(0, &r), ZX_STATUS_OK);
             EXPECT_EQ(r.maximum, 3u);
         }},
        {"AtiHugeProfile", Vendor::Ati, "",
         [](zxtest::FakePlatform& os) { putCardData(os, "ATIVGA.DAT", hugeProfile("1002_9460_0502_7A3C")); },
         [](ZXStatus started) {
             ASSERT_EQ(started, ZX_STATUS_OK);
             ZXVgaInfoDescription d{};
             ASSERT_EQ(ZXGetVGAInfoDescription(0, &d), ZX_STATUS_OK);
             EXPECT_EQ(std::string(d.strings[0]), repeat('D', 39));
         }},
        {"NvidiaProfileNumbersThatAreNot", Vendor::Nvidia, "",
         [](zxtest::FakePlatform& os) {
             putCardData(os, "NVVGA.DAT",
                         "[10DE_0622_B111_7A3C]\nGPUVoltageMin=abc\nGPUVoltageMax=99999999999999999999\n"
                         "GPUVoltageStep=-25\nMemoryVoltageStep=\nPWMClockStep=0x1\n");
         },
         [](ZXStatus started) { EXPECT_EQ(started, ZX_STATUS_OK); }},
        {"AtiStoreValuesEmptyOverlongAndNotNumbers", Vendor::Ati, "",
         [](zxtest::FakePlatform& os) {
             storeText(os, kAtiKey, "DefaultGPUVoltage0", zx::platform::kRegExpandSz, "");
             storeText(os, kAtiKey, "DefaultGPUVoltage1", zx::platform::kRegExpandSz, repeat('7', 4000));
             storeText(os, kAtiKey, "DefaultGPUVoltage2", zx::platform::kRegExpandSz, "volts");
             storeText(os, kAtiKey, "DefaultGPUClock0", zx::platform::kRegExpandSz, repeat('9', 260));
             storeText(os, kAtiKey, "DefaultMemoryVoltageLevel2D", zx::platform::kRegSz, "-1");
             storeText(os, kAtiKey, "DefaultPWMLevel", 4, "\x01\x00\x00\x00");
         },
         [](ZXStatus started) {
             ASSERT_EQ(started, ZX_STATUS_OK);
             ZXLevelValues v{};
             EXPECT_LE(ZXGetPerformanceDefaultVoltages(0, &v), ZX_STATUS_NOT_SUPPORTED);
             EXPECT_LE(v.count, 4u);
         }},
        {"AtiStoreNotWritable", Vendor::Ati, "", [](zxtest::FakePlatform& os) { os.storeFails = true; }, nullptr},
        {"NvidiaDocumentsFolderMissing", Vendor::Nvidia, "",
         [](zxtest::FakePlatform& os) { os.documents = std::nullopt; },
         [](ZXStatus started) { EXPECT_EQ(started, ZX_STATUS_FAILED); }},
        {"AtiTemporaryProfileNotWritable", Vendor::Ati, "", [](zxtest::FakePlatform& os) { os.writesFail = true; },
         nullptr},
    };
}

class Hostile : public ::testing::TestWithParam<HostileCase> {};

TEST_P(Hostile, TheLibraryStaysWithinItsAnswers) {
    const HostileCase& c = GetParam();
    Machine m(c.vendor);
    if (c.prepare) {
        c.prepare(m.os());
    }
    const ZXStatus started =
        c.scenario.rfind('=', 0) == 0 ? m.startWith(c.scenario.substr(1)) : m.start(c.scenario);
    EXPECT_LE(started, ZX_STATUS_FAILED);
    std::uint8_t out[512];
    for (const Export& e : exports()) {
        std::memset(out, 0xAA, sizeof out);
        const ZXStatus s = e.call(out);
        if (started != ZX_STATUS_OK) {
            EXPECT_EQ(s, ZX_STATUS_NOT_INITIALISED) << e.name;
            continue;
        }
        EXPECT_LE(s, ZX_STATUS_NOT_SUPPORTED) << e.name;
        if (s != ZX_STATUS_OK && std::string(e.name) != "ZXGetVGAInfoDescription") {
            for (std::size_t i = 0; i < e.outSize; ++i) {
                ASSERT_EQ(out[i], 0) << e.name << " byte " << i;
            }
        }
    }
    if (c.check) {
        c.check(started);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, Hostile, ::testing::ValuesIn(cases()),
                         [](const auto& p) { return std::string(p.param.name); });

// sysfs and DRM files as the Linux platform reads them: missing, empty,
// garbage or endless (a link to /dev/zero), each bounded and each leaving the
// device out or the attribute at 0.
struct SysfsCase {
    const char* name;
    const char* attribute;  // of the PCI device, or "drm" for the connector status
    const char* content;    // nullptr: a link to /dev/zero
    bool listed;            // the device still appears
};

class HostileSysfs : public ::testing::TestWithParam<SysfsCase> {};

TEST_P(HostileSysfs, FilesAreReadBoundedAndNeverTrusted) {
    const SysfsCase& c = GetParam();
    const std::string dev = zxtest::sysfsRoot() + "/bus/pci/devices/0000:01:00.0";
    zxtest::makeDirs(dev);
    const std::vector<std::pair<std::string, std::string>> attributes = {
        {"vendor", "0x10de\n"}, {"device", "0x0622\n"}, {"subsystem_vendor", "0x7a3c\n"},
        {"subsystem_device", "0xb111\n"}, {"class", "0x030000\n"}, {"revision", "0xa2\n"}};
    for (const auto& [name, text] : attributes) {
        zxtest::writeFile(dev + "/" + name, text);
    }
    zxtest::makeDirs(zxtest::sysfsRoot() + "/class/drm/card0");
    const std::string drm = zxtest::sysfsRoot() + "/class/drm/card0-DP-1";
    zxtest::makeDirs(drm);
    zxtest::writeFile(drm + "/status", "connected\n");
    const std::string target = std::string(c.attribute) == "drm" ? drm + "/status" : dev + "/" + c.attribute;
    ::unlink(target.c_str());
    if (c.content == nullptr) {
        ASSERT_EQ(::symlink("/dev/zero", target.c_str()), 0);
    } else if (std::string(c.content) != "<missing>") {
        zxtest::writeFile(target, c.content);
    }

    std::vector<zx::platform::DeviceRecord> devices;
    ASSERT_TRUE(zx::platform::posix::listDevices(devices));
    EXPECT_EQ(devices.size(), c.listed ? 1u : 0u);
    zx::platform::DisplayDevice display;
    ASSERT_TRUE(zx::platform::native().displayDevice(0, display));
    EXPECT_EQ(display.attachedToDesktop, std::string(c.attribute) != "drm");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HostileSysfs,
    ::testing::Values(SysfsCase{"VendorEndless", "vendor", nullptr, false},
                      SysfsCase{"VendorEmpty", "vendor", "", false},
                      SysfsCase{"VendorGarbage", "vendor", "\x01\xff zz 0x\n", false},
                      SysfsCase{"VendorTooWide", "vendor", "0x110de\n", false},
                      SysfsCase{"DeviceMissing", "device", "<missing>", false},
                      SysfsCase{"SubsystemEndless", "subsystem_vendor", nullptr, true},
                      SysfsCase{"ClassGarbage", "class", "display\n", true},
                      SysfsCase{"RevisionHuge", "revision", "0xffffffffffffffffffff\n", true},
                      SysfsCase{"DrmStatusEndless", "drm", nullptr, true},
                      SysfsCase{"DrmStatusEmpty", "drm", "", true},
                      SysfsCase{"DrmStatusGarbage", "drm", "connected-ish\n", true},
                      SysfsCase{"DrmStatusMissing", "drm", "<missing>", true}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
