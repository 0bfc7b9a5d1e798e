// Hostile answers from outside the library (docs/robustness.md lists where
// each is tested) and start-up with each vendor call failing or absent: after
// start-up every export answers within its set, and the case's check holds.
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "ati/ati_profile.h"
#include "platform/posix/posix_platform.h"
#include "support/fake_sysfs.h"
#include "support/in_process_machine.h"
#include "support/test_env.h"

namespace {

using namespace zxtest::inproc;

struct HostileCase {
    std::string name;
    Vendor vendor;
    std::string scenario;                        // lines added to the machine's scenario; "=..." replaces it
    std::function<void(Machine&)> prepare = {};  // before start-up
    std::function<void(ZXStatus)> check = {};    // after start-up
    std::string without = "";                    // an operation whose entry point is left out
};
void PrintTo(const HostileCase& c, std::ostream* os) { *os << c.name; }

// 10,000 sections with the card's last, a 100 KB line in every 1000th and in
// the card's description.
std::string hugeProfile() {
    std::string text;
    for (int i = 0; i < 10000; ++i) {
        text += "[Other" + std::to_string(i) + "]\nGPUVoltageMax=9\n";
        text += i % 1000 == 0 ? "Filler=" + std::string(100 * 1024, 'x') + "\n" : "";
    }
    return text + "[10DE_0622_B111_7A3C]\nMemoryVoltageStep=1\nMemoryVoltageMax=3\nPWMClockStep=1\nPWMClockMax=1\n" +
           "VGAInfoString0=" + std::string(100 * 1024, 'D') + "\n";
}

// The machine's card with a device answering noise in place of its pin controller.
std::string noisyScenario() {
    std::string s = kNvScenario;
    const std::string regulator = "regulator kind=1 base=800 step=25\n";
    return "=" + s.replace(s.find(regulator), regulator.size(), "device addr=0x3E type=noisy\n");
}

// Whatever the pins read, the answers stay on the card's scales (a failed read: 0).
void expectOnTheCardsScales(ZXStatus started) {
    ASSERT_EQ(started, ZX_STATUS_OK);
    for (int i = 0; i < 50; ++i) {
        std::uint32_t voltage = 0, level = 0, memory = 0, pwm = 0;
        ZXGetCurrentVoltage(0, &voltage, &level);
        ZXGetCurrentMemoryVoltageLevel(0, &memory);
        ZXGetCurrentPWMClockLevel(0, &pwm);
        EXPECT_TRUE((voltage == 0 || (voltage >= 800 && voltage <= 1300)) && memory <= 3 && pwm <= 1)
            << voltage << " mV, memory voltage level " << memory << ", PWM level " << pwm;
        EXPECT_LE(ZXSetCurrentVoltageLevel(0, 1000 + 25 * (i % 8)), ZX_STATUS_FAILED);
    }
}

void putAtiStoreValues(Machine& m) {
    const std::string key = std::string(zx::ati::kStoreKeyPrefix) + "1002_9460_0502_7A3C";
    const auto put = [&](const char* name, std::uint32_t type, const std::string& bytes) {
        m.os().storeSet(key, name, type, reinterpret_cast<const std::uint8_t*>(bytes.data()),
                        static_cast<std::uint32_t>(bytes.size()));
    };
    put("DefaultGPUVoltage0", zx::platform::kRegExpandSz, "");
    put("DefaultGPUVoltage1", zx::platform::kRegExpandSz, std::string(4000, '7'));
    put("DefaultGPUClock0", zx::platform::kRegExpandSz, std::string(260, '9'));
    put("DefaultMemoryVoltageLevel2D", zx::platform::kRegSz, "-1");
    put("DefaultPWMLevel", 4, std::string("\x01\x00\x00\x00", 4));
}

void startFails(ZXStatus started) { EXPECT_EQ(started, ZX_STATUS_FAILED); }

std::vector<HostileCase> cases() {
    std::vector<HostileCase> all = {
        {"NvidiaNoLevels", Vendor::Nvidia, "=gpu bus=1 levels=0\nthermal temp=50\ncooler level=40\n"},
        {"AtiNoLevels", Vendor::Ati, "od count=0\n"},
        {"AtiHugeLevelCount", Vendor::Ati, "od count=2147483647\n", {}, startFails},
        {"NvidiaNoisyPinController", Vendor::Nvidia, noisyScenario(), {}, expectOnTheCardsScales},
        {"NvidiaHugeProfile", Vendor::Nvidia, "",
         [](Machine& m) { m.os().putFile("/opt/host/NVVGA.DAT", zxtest::hexOf(hugeProfile())); },
         [](ZXStatus started) {
             ASSERT_EQ(started, ZX_STATUS_OK);
             ZXVgaInfoDescription d{};
             EXPECT_EQ(ZXGetVGAInfoDescription(0, &d), ZX_STATUS_OK);
             EXPECT_EQ(std::string(d.strings[0]), std::string(39, 'D'));
             ZXRangeInfo r{};
             EXPECT_EQ(ZXGetMemoryVoltageInfo(0, &r), ZX_STATUS_OK);
             EXPECT_EQ(r.maximum, 3u);
         }},
        {"AtiStoreValuesEmptyOverlongAndNotNumbers", Vendor::Ati, "", putAtiStoreValues,
         [](ZXStatus started) {
             ASSERT_EQ(started, ZX_STATUS_OK);
             ZXLevelValues v{};
             EXPECT_LE(ZXGetPerformanceDefaultVoltages(0, &v), ZX_STATUS_NOT_SUPPORTED);
             EXPECT_LE(v.count, 4u);
         }},
        {"AtiStoreNotWritable", Vendor::Ati, "", [](Machine& m) { m.os().storeFails = true; }},
        {"NvidiaDocumentsFolderMissing", Vendor::Nvidia, "", [](Machine& m) { m.os().documents.reset(); }, startFails},
        {"AtiTemporaryProfileNotWritable", Vendor::Ati, "", [](Machine& m) { m.os().writesFail = true; }},
        {"NvidiaInitialisationFails", Vendor::Nvidia, "init status=-1\n", {}, startFails},
    };
    // Start-up without the vendor library, and with each vendor call failing
    // or its entry point absent.
    for (const Vendor v : {Vendor::Nvidia, Vendor::Ati}) {
        const std::string vendor = v == Vendor::Nvidia ? "Nvidia" : "Ati";
        all.push_back({vendor + "LibraryAbsent", v, "", [](Machine& m) { m.os().libraries.clear(); }, startFails});
        std::set<std::string> ops = {"Initialize", "EnumPhysicalGPUs", "GetBusId", "GetPerfClocks", "SetPerfClocks",
                                     "GetThermalSettings", "GetCoolerSettings", "SetCoolerLevels",
                                     "RestoreCoolerSettings", "I2CRead", "I2CWrite"};
        if (v == Vendor::Ati) {
            ops.clear();
            for (const char* name : kAtiEntryPoints) ops.insert(operationOf(name + 6));
        }
        for (const std::string& op : ops) {
            all.push_back({vendor + op + "Failing", v, faultLine(v, op)});
            all.push_back({vendor + "Without" + op, v, "", {}, {}, op});
        }
    }
    return all;
}

class Hostile : public ::testing::TestWithParam<HostileCase> {};

TEST_P(Hostile, TheLibraryStaysWithinItsAnswers) {
    const HostileCase& c = GetParam();
    Machine m(c.vendor);
    if (c.prepare) {
        c.prepare(m);
    }
    const ZXStatus started = c.without.empty() ? m.start(c.scenario) : m.startWithout(c.without);
    EXPECT_LE(started, ZX_STATUS_FAILED);
    m.expectEveryExportConsistent(started);
    if (c.check) {
        c.check(started);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, Hostile, ::testing::ValuesIn(cases()), [](const auto& p) { return p.param.name; });

// Endless (a link to /dev/zero), missing or garbage sysfs and DRM files are
// read bounded: a bad ID leaves its device out, a bad optional attribute reads
// as 0, a bad connector status is not "connected".
TEST(HostileSysfs, FilesAreReadBoundedAndNeverTrusted) {
    const auto spoil = [](const std::string& path, const char* content) {  // nullptr: endless
        ::unlink(path.c_str());
        if (content == nullptr) {
            ASSERT_EQ(::symlink("/dev/zero", path.c_str()), 0);
        } else if (std::string(content) != "<missing>") {
            zxtest::writeFile(path, content);
        }
    };
    const std::pair<const char*, const char*> pciFiles[] = {{"vendor", nullptr},
                                                            {"device", "<missing>"},
                                                            {"subsystem_vendor", nullptr},
                                                            {"class", "display\n"},
                                                            {"revision", "0xffffffffffffffffffff\n"}};
    for (int i = 0; i < 5; ++i) {
        const std::string address = "0000:0" + std::to_string(i + 1) + ":00.0";
        zxtest::addPciDevice(address);
        spoil(zxtest::sysfsRoot() + "/bus/pci/devices/" + address + "/" + pciFiles[i].first, pciFiles[i].second);
    }
    const char* statuses[] = {nullptr, "", "connected-ish\n", "<missing>", "connected\n"};
    for (unsigned i = 0; i < 5; ++i) {
        zxtest::addDrmCard(i, true);
        spoil(zxtest::sysfsRoot() + "/class/drm/card" + std::to_string(i) + "-DP-1/status", statuses[i]);
    }
    std::vector<zx::platform::DeviceRecord> devices;
    ASSERT_TRUE(zx::platform::native().listDevices(devices));
    ASSERT_EQ(devices.size(), 3u);
    const std::string endlessSubsystemVendor = "PCI\\VEN_10DE&DEV_0611&SUBSYS_A1020000&REV_A2\\0000:03";
    EXPECT_EQ(devices[0].instanceId.substr(0, endlessSubsystemVendor.size()), endlessSubsystemVendor);
    for (unsigned i = 0; i < 5; ++i) {
        zx::platform::DisplayDevice display;
        ASSERT_TRUE(zx::platform::native().displayDevice(i, display));
        EXPECT_EQ(display.attachedToDesktop, i == 4) << display.name;
    }
}

}  // namespace
