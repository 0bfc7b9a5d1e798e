// Start-up through the real shared library, driven by a deployed host application on fake sysfs trees with the
// simulated NVAPI.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/fake_sysfs.h"
#include "support/host.h"
#include "support/test_env.h"

namespace {

using zxtest::addPciDevice;
using zxtest::Lines;

const char* kOneGpu =
    "gpu bus=1 levels=3 current=0\nclock sel=0 domain=0 freq=300000 default=300000 min=100000 max=900000\n";
const char* kTwoGpus =
    "gpu bus=1 levels=3 current=0\nclock sel=0 domain=0 freq=300000 default=300000 min=100000 max=900000\n"
    "gpu bus=2 levels=3 current=0\nclock sel=0 domain=0 freq=300000 default=300000 min=100000 max=900000\n";
const std::string kSection = std::string("[") + zxtest::kNvidiaCard + "]\n";
const std::string kTempProfile = "/Documents/temp/VGA.ini";

class StartUpE2E : public ::testing::Test {
protected:
    zxtest::HostDeployment host;
    zxtest::SimDriver driver;
};

// What discovery records and whether start-up chooses a vendor. The adapter line is: status, count, three kinds, three
// card IDs, nine location words (0).
TEST_F(StartUpE2E, AdaptersAreRecordedAndOneModelOfOneVendorStarts) {
    const std::string nv = zxtest::kNvidiaCard, zeros = " 0 0 0 0 0 0 0 0 0";
    struct Case {
        const char* what;
        std::string devices;  // "address=model ...", "audio" for the card's sound function
        const char* scenario;
        const char* init;
        std::string adapters;  // after start-up (its start)
    };
    const Case cases[] = {
        {"a card's audio function is no adapter", "0000:01:00.0=" + nv + " 0000:01:00.1=audio", kOneGpu, "0",
         "0 1 2 0 0 " + nv + " ___ ___" + zeros},
        {"the subsystem ID comes before the board maker's", "0000:01:00.0=10DE_0606_A101_7A3C", kOneGpu, "0",
         "0 1 2 0 0 10DE_0606_A101_7A3C ___ ___" + zeros},
        {"ATI beside NVIDIA is refused, both listed", "0000:01:00.0=1002_9460_0502_7A3C 0000:02:00.0=" + nv, kOneGpu,
         "5", "0 2 1 2 0 1002_9460_0502_7A3C " + nv + " ___" + zeros},
        {"two models of one vendor are refused", "0000:01:00.0=" + nv + " 0000:02:00.0=10DE_0611_A103_7A3C", kTwoGpus,
         "5", "0 2 2 2 0 " + nv + " 10DE_0611_A103_7A3C ___" + zeros},
        {"no adapter", "", kOneGpu, "1", "3 0 0 0 0"},
        {"a backend that fails to start", "0000:01:00.0=" + nv, "", "1", "0 1 2 0 0 " + nv + " ___ ___" + zeros},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        zxtest::clearSysfs();
        std::istringstream devices(c.devices);
        for (std::string d; devices >> d;) {
            const std::string address = d.substr(0, d.find('=')), model = d.substr(d.find('=') + 1);
            if (model == "audio") {
                addPciDevice(address, "10DE_0612_A102_7A3C", 0x040300);
            } else {
                addPciDevice(address, model);
            }
        }
        const auto r =
            host.run({"ZXGetAdapterInfo ZXInitLib ZXGetAdapterInfo ZXGetGpuCount ZXDeInitLib"}, driver.env(c.scenario));
        EXPECT_EQ(r.allOf("ZXGetAdapterInfo")[0].substr(0, 2), "3 ");
        EXPECT_EQ(r.of("ZXInitLib"), c.init);
        EXPECT_EQ(r.allOf("ZXGetAdapterInfo")[1].substr(0, c.adapters.size()), c.adapters);
        // Without a vendor chosen nothing answers.
        const std::string started = std::string(c.init) == "0" ? "0" : "3";
        EXPECT_EQ(r.of("ZXGetGpuCount").substr(0, 1) + r.of("ZXDeInitLib"), started + started);
    }
    EXPECT_FALSE(zxtest::fileExists(zxtest::homeDir() + kTempProfile));
}

TEST_F(StartUpE2E, TwoProcessesStartingTogetherEachReadTheirOwnProfile) {
    addPciDevice("0000:01:00.0");
    zxtest::HostDeployment other("other-app");
    host.addCardData("NVVGA.DAT", kSection + "VGAInfoString0=First\n");
    other.addCardData("NVVGA.DAT", kSection + "VGAInfoString0=Second\n");
    constexpr int kStarts = 50;
    Lines cmds{"wait:" + zxtest::marker("go")};
    cmds.insert(cmds.end(), kStarts, "ZXInitLib ZXGetVGAInfoDescription 0 ZXDeInitLib");
    const auto env = driver.env(kOneGpu);
    const pid_t a = host.start(cmds, env);
    const pid_t b = other.start(cmds, env);
    zxtest::writeFile(zxtest::marker("go"), "");
    const auto ra = host.wait(a), rb = other.wait(b);
    for (const auto& [r, own] :
         {std::pair{&ra, std::string("0 1 [First]")}, std::pair{&rb, std::string("0 1 [Second]")}}) {
        ASSERT_EQ(r->allOf("ZXInitLib"), Lines(kStarts, "0"));
        for (int i = 0; i < kStarts; ++i) {
            EXPECT_EQ(r->allOf("ZXGetVGAInfoDescription")[i].substr(0, own.size()), own) << "start " << i;
        }
    }
    EXPECT_FALSE(zxtest::fileExists(zxtest::homeDir() + kTempProfile));
}

TEST_F(StartUpE2E, AFileRenamedOverTheTemporaryProfileIsNeverRead) {
    addPciDevice("0000:01:00.0");
    host.addCardData("NVVGA.DAT", kSection + "VGAInfoString0=Genuine\n");
    // A thread renames a file of its own over "VGA.ini" whenever that name is created.
    const std::string temp = zxtest::homeDir() + "/Documents/temp", spare = temp + "/planted";
    const std::string planted = kSection + "VGAInfoString0=Planted\nGPUVoltageStep=1\n";
    zxtest::makeDirs(temp);
    zxtest::writeFile(spare, planted);
    const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ::inotify_add_watch(fd, temp.c_str(), IN_CREATE);
    std::atomic<bool> stop{false};
    std::thread swapper([&] {
        alignas(inotify_event) char buf[4096];
        while (!stop) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            const ssize_t n = ::read(fd, buf, sizeof buf);
            for (ssize_t at = 0; at < n;) {
                const auto* ev = reinterpret_cast<const inotify_event*>(buf + at);
                at += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
                if (ev->len > 0 && std::string(ev->name) == "VGA.ini" &&
                    ::rename(spare.c_str(), (temp + "/VGA.ini").c_str()) == 0) {
                    zxtest::writeFile(spare, planted);
                }
            }
        }
    });
    Lines cmds(20, "ZXInitLib ZXGetVGAInfoDescription 0");
    const auto r = host.run(cmds, driver.env(kOneGpu));
    stop = true;
    swapper.join();
    ::close(fd);
    // Whether a swap came in time depends on scheduling; what was read must not.
    EXPECT_EQ(r.allOf("ZXGetVGAInfoDescription").size(), 20u);
    for (const auto& line : r.allOf("ZXGetVGAInfoDescription")) EXPECT_EQ(line.substr(0, 13), "0 1 [Genuine]");
}

// Card data whose profile is saved as UTF-16 or carries NUL bytes: the reader takes it as the system's private-profile
// function does.
TEST_F(StartUpE2E, ProfilesInUtf16OrWithNulBytesReadAsTheSystemReadsThem) {
    using namespace std::string_literals;
    addPciDevice("0000:01:00.0");
    const auto env = driver.env(kOneGpu);
    auto runWith = [&](const std::string& plain) {
        host.addCardData("NVVGA.DAT", plain);
        const auto r = host.run({"ZXInitLib ZXGetControlMode ZXGetVGAInfoDescription 0"}, env);
        EXPECT_EQ(r.of("ZXInitLib"), "0");
        return std::pair{r.of("ZXGetControlMode"), r.of("ZXGetVGAInfoDescription")};
    };
    auto utf16le = [](std::u16string_view text, bool mark) {
        std::string out = mark ? "\xFF\xFE" : "";
        for (const char16_t u : text) out += {static_cast<char>(u & 0xFF), static_cast<char>(u >> 8)};
        return out;
    };
    const std::u16string_view wide =
        u"[10DE_0611_A102_7A3C]\r\nGPUVoltageStep=125\r\nPWMClockStep=1\r\nVGAInfoString0=Caf\u00E9\r\n"
        u"VGAInfoString1=Second\r\n";
    const auto limits = runWith(kSection + "GPUVoltageStep=125\nPWMClockStep=1\n").first;
    const auto none = runWith("").first;
    ASSERT_NE(limits, none);
    struct Case {
        const char* what;
        std::string plain, controlMode, descriptions;  // the start of the description line
    };
    const Case cases[] = {
        {"UTF-16LE with its mark", utf16le(wide, true), limits, "0 2 [Caf\xC3\xA9] [Second] []"},
        {"UTF-16LE without a mark", utf16le(wide, false), none, "0 0 [] []"},
        {"NUL padding ends the descriptions",
         kSection + "VGAInfoString0=First\nVGAInfoString1=\0\0\0\0\nVGAInfoString2=Third\n"s, none, "0 1 [First] []"},
        {"names with a NUL match up to it",
         "[10DE_0611_A102_7A3C\0junk]\nGPUVoltageStep\0junk=125\nPWMClockStep=1\0junk\n"s, limits, "0 0 []"},
    };
    for (const Case& c : cases) {
        const auto [mode, desc] = runWith(c.plain);
        EXPECT_EQ(mode, c.controlMode) << c.what;
        EXPECT_EQ(desc.substr(0, c.descriptions.size()), c.descriptions) << c.what;
    }
}

// A store file of random bytes is moved aside and a new store begins; a store folder without write permission makes the
// store fail at once. Neither holds up a start-up: one that waited on the store takes many seconds.
TEST_F(StartUpE2E, ABrokenStoreNeverHoldsUpAStartUp) {
    addPciDevice("0000:01:00.0");
    // A registry-voltage card: its profile reader writes to the store.
    host.addCardData("NVVGA.DAT", kSection + "GPUVoltageStart=1300\nGPUVoltageCurrent=1250\n");
    const std::string store = zxtest::configDir() + "/zxdisplaylib";
    zxtest::makeDirs(store);
    std::string noise(8192, '\0');
    std::mt19937 random(7);
    for (char& c : noise) c = static_cast<char>(random());
    zxtest::writeFile(store + "/registry.db", noise);
    // Folder permissions bind only users other than root.
    if (::geteuid() == 0) {
        for (const auto& e : std::filesystem::recursive_directory_iterator(zxtest::testRoot())) {
            ASSERT_EQ(::lchown(e.path().c_str(), 65534, 65534), 0) << e.path();
        }
        ASSERT_EQ(::chown(zxtest::testRoot().c_str(), 65534, 65534), 0);
        host.userId = 65534;
    }
    auto startUp = [&] {
        const auto begin = std::chrono::steady_clock::now();
        EXPECT_EQ(host.run({"ZXInitLib"}, driver.env(kOneGpu)).of("ZXInitLib"), "0");
        EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(5)) << "start-up waited on the store";
        Lines aside;
        for (const auto& e : std::filesystem::directory_iterator(store)) {
            const std::string name = e.path().filename().string();
            if (name.rfind("registry.db.broken-", 0) == 0 && !name.ends_with("-wal") && !name.ends_with("-shm")) {
                aside.push_back(e.path().string());
            }
        }
        return aside;
    };
    const Lines aside = startUp();
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(zxtest::readFile(aside[0]), noise) << "the broken file is kept as it was";
    EXPECT_EQ(zxtest::readFile(store + "/registry.db").substr(0, 16), std::string("SQLite format 3\0", 16));
    ASSERT_EQ(::chmod(store.c_str(), 0500), 0);
    EXPECT_EQ(startUp().size(), 1u) << "a store that cannot be written is not broken";
    ASSERT_EQ(::chmod(store.c_str(), 0700), 0);
    EXPECT_EQ(startUp().size(), 1u) << "the new store is used, not moved aside again";
}

}  // namespace
