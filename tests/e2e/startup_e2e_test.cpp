// Start-up through the real shared library, driven by a deployed host
// application on fake sysfs trees with the simulated NVAPI.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/fake_sysfs.h"
#include "support/host.h"
#include "support/test_env.h"

namespace {

using zxtest::addPciDevice;
using zxtest::atiCard;
using zxtest::audioFunctionOf;
using zxtest::HostDeployment;
using zxtest::nvidiaCard;
using zxtest::otherVendorDisplay;

const char* kOneGpu = "gpu bus=1 levels=3 current=0\nclock sel=0 domain=0 freq=300000 default=300000 min=100000 max=900000\n";
const char* kTwoGpus =
    "gpu bus=1 levels=3 current=0\nclock sel=0 domain=0 freq=300000 default=300000 min=100000 max=900000\n"
    "gpu bus=2 levels=3 current=0\nclock sel=0 domain=0 freq=300000 default=300000 min=100000 max=900000\n";

class StartUpE2E : public ::testing::Test {
protected:
    zxtest::EnvVars simulate(const std::string& scenario) {
        const std::string path = zxtest::testRoot() + "/scenario";
        zxtest::writeFile(path, scenario);
        return {{"ZXSIM_NVAPI_SCENARIO", path}};
    }
    HostDeployment host;
};

// What discovery records and whether start-up chooses a vendor. The
// adapter line is: status, count, three kinds, three card IDs, nine location
// words (always 0).
TEST_F(StartUpE2E, AdaptersAreRecordedAndOneModelOfOneVendorStarts) {
    const auto nv = [](const char* a, unsigned sub = 0xA102) { return nvidiaCard(a, 0x0611, sub, 0x7A3C); };
    const std::string zeros = " 0 0 0 0 0 0 0 0 0";
    struct Case {
        const char* what;
        std::vector<zxtest::FakePciDevice> devices;
        const char* scenario;
        const char* init;
        std::string adapters;  // after start-up (its start)
    };
    const Case cases[] = {
        {"another vendor's on-board adapter is passed over", {otherVendorDisplay("0000:00:02.0"), nv("0000:01:00.0")},
         kOneGpu, "0", "0 1 2 0 0 10DE_0611_A102_7A3C ___ ___" + zeros},
        {"a card's audio function is no adapter",
         {nv("0000:01:00.0"), audioFunctionOf(nv("0000:01:00.0"), "0000:01:00.1")}, kOneGpu, "0",
         "0 1 2 0 0 10DE_0611_A102_7A3C ___ ___" + zeros},
        {"at most three adapters", {nv("0000:01:00.0"), nv("0000:02:00.0"), nv("0000:03:00.0"), nv("0000:04:00.0")},
         kTwoGpus, "0", "0 3 2 2 2 10DE_0611_A102_7A3C 10DE_0611_A102_7A3C 10DE_0611_A102_7A3C" + zeros},
        {"the subsystem ID comes before the board maker's", {nvidiaCard("0000:01:00.0", 0x0606, 0xA101, 0x7A3C)},
         kOneGpu, "0", "0 1 2 0 0 10DE_0606_A101_7A3C ___ ___" + zeros},
        {"ATI beside NVIDIA is refused, both listed", {atiCard("0000:01:00.0"), nv("0000:02:00.0")}, kOneGpu, "5",
         "0 2 1 2 0 1002_9460_0502_7A3C 10DE_0611_A102_7A3C ___" + zeros},
        {"two models of one vendor are refused", {nv("0000:01:00.0"), nv("0000:02:00.0", 0xA103)}, kTwoGpus, "5",
         "0 2 2 2 0 10DE_0611_A102_7A3C 10DE_0611_A103_7A3C ___" + zeros},
        {"a backend that fails to start", {nv("0000:01:00.0")}, "", "1",
         "0 1 2 0 0 10DE_0611_A102_7A3C ___ ___" + zeros},
        {"no adapter", {}, kOneGpu, "1", "3 0 0 0 0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        zxtest::removeTree(zxtest::sysfsRoot());
        zxtest::makeDirs(zxtest::sysfsRoot());
        for (const auto& d : c.devices) addPciDevice(d);
        const auto r = host.run({"ZXGetAdapterInfo", "ZXInitLib", "ZXGetAdapterInfo", "ZXGetGpuCount", "ZXDeInitLib"},
                                simulate(c.scenario));
        EXPECT_EQ(r.allOf("ZXGetAdapterInfo")[0].substr(0, 2), "3 ");
        EXPECT_EQ(r.of("ZXInitLib"), c.init);
        EXPECT_EQ(r.allOf("ZXGetAdapterInfo")[1].substr(0, c.adapters.size()), c.adapters);
        // Without a vendor chosen nothing answers.
        EXPECT_EQ(r.of("ZXGetGpuCount").substr(0, 1), std::string(c.init) == "0" ? "0" : "3");
        EXPECT_EQ(r.of("ZXDeInitLib"), std::string(c.init) == "0" ? "0" : "3");
    }
    EXPECT_FALSE(zxtest::fileExists(zxtest::homeDir() + "/Documents/temp/VGA.ini"));
}

TEST_F(StartUpE2E, NoTemporaryProfileOutlivesStartUp) {
    addPciDevice(nvidiaCard("0000:01:00.0"));
    host.addCardData("NVVGA.DAT", "[10DE_0611_A102_7A3C]\nVGAInfoString0=Card\n");
    const auto r = host.run({"ZXInitLib", "ZXGetVGAInfoDescription", "0"}, simulate(kOneGpu));
    EXPECT_EQ(r.of("ZXInitLib"), "0");
    EXPECT_EQ(r.of("ZXGetVGAInfoDescription").substr(0, 10), "0 1 [Card]");
    const std::string temp = zxtest::homeDir() + "/Documents/temp";
    EXPECT_TRUE(zxtest::fileExists(temp));
    EXPECT_FALSE(zxtest::fileExists(temp + "/VGA.ini"));
}

TEST_F(StartUpE2E, TheDocumentsFolderFollowsTheUsersDirectorySettings) {
    addPciDevice(nvidiaCard("0000:01:00.0"));
    zxtest::writeFile(zxtest::configDir() + "/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/Papers\"\n");
    const auto r = host.run({"ZXInitLib"}, simulate(kOneGpu));
    EXPECT_EQ(r.of("ZXInitLib"), "0");
    EXPECT_TRUE(zxtest::fileExists(zxtest::homeDir() + "/Papers/temp"));
}

TEST_F(StartUpE2E, TwoProcessesStartingTogetherEachReadTheirOwnProfile) {
    addPciDevice(nvidiaCard("0000:01:00.0"));
    const auto env = simulate(kOneGpu);
    HostDeployment other("other-app");
    host.addCardData("NVVGA.DAT", "[10DE_0611_A102_7A3C]\nVGAInfoString0=First\n");
    other.addCardData("NVVGA.DAT", "[10DE_0611_A102_7A3C]\nVGAInfoString0=Second\n");
    const std::string go = zxtest::testRoot() + "/go";
    constexpr int kStarts = 50;
    std::vector<std::string> cmds{"wait:" + go};
    for (int i = 0; i < kStarts; ++i) {
        cmds.insert(cmds.end(), {"ZXInitLib", "ZXGetVGAInfoDescription", "0", "ZXDeInitLib"});
    }
    const pid_t a = host.start(cmds, env);
    const pid_t b = other.start(cmds, env);
    zxtest::writeFile(go, "");
    const auto ra = host.wait(a);
    const auto rb = other.wait(b);
    for (const auto& [r, own] : {std::pair{&ra, std::string("0 1 [First]")}, std::pair{&rb, std::string("0 1 [Second]")}}) {
        ASSERT_EQ(r->allOf("ZXInitLib").size(), static_cast<std::size_t>(kStarts));
        for (int i = 0; i < kStarts; ++i) {
            EXPECT_EQ(r->allOf("ZXInitLib")[i], "0") << "start " << i;
            EXPECT_EQ(r->allOf("ZXGetVGAInfoDescription")[i].substr(0, own.size()), own) << "start " << i;
        }
    }
    EXPECT_FALSE(zxtest::fileExists(zxtest::homeDir() + "/Documents/temp/VGA.ini"));
}

// Renames a file of its own over "VGA.ini" whenever that name is created in
// the folder, until stopped.
class ProfileSwapper {
public:
    ProfileSwapper(const std::string& folder, std::string planted) : folder_(folder), planted_(std::move(planted)) {
        zxtest::makeDirs(folder_);
        fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        ::inotify_add_watch(fd_, folder_.c_str(), IN_CREATE | IN_MOVED_TO);
        thread_ = std::thread([this] { run(); });
    }
    ~ProfileSwapper() {
        stop_ = true;
        thread_.join();
        ::close(fd_);
    }
    int swaps() const { return swaps_; }

private:
    void run() {
        const std::string spare = folder_ + "/planted";
        zxtest::writeFile(spare, planted_);
        alignas(inotify_event) char buf[4096];
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) {
                continue;
            }
            const ssize_t n = ::read(fd_, buf, sizeof buf);
            for (ssize_t at = 0; at < n;) {
                const auto* ev = reinterpret_cast<const inotify_event*>(buf + at);
                at += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
                if ((ev->mask & IN_CREATE) != 0 && ev->len > 0 && std::string(ev->name) == "VGA.ini" &&
                    ::rename(spare.c_str(), (folder_ + "/VGA.ini").c_str()) == 0) {
                    ++swaps_;
                    zxtest::writeFile(spare, planted_);
                }
            }
        }
    }

    std::string folder_;
    std::string planted_;
    int fd_ = -1;
    std::atomic<bool> stop_{false};
    std::atomic<int> swaps_{0};
    std::thread thread_;
};

TEST_F(StartUpE2E, AFileRenamedOverTheTemporaryProfileIsNeverRead) {
    addPciDevice(nvidiaCard("0000:01:00.0"));
    host.addCardData("NVVGA.DAT", "[10DE_0611_A102_7A3C]\nVGAInfoString0=Genuine\n");
    const std::string temp = zxtest::homeDir() + "/Documents/temp";
    ProfileSwapper swapper(temp, "[10DE_0611_A102_7A3C]\nVGAInfoString0=Planted\nGPUVoltageStep=1\n");
    std::vector<std::string> cmds;
    for (int i = 0; i < 20; ++i) {
        cmds.insert(cmds.end(), {"ZXInitLib", "ZXGetVGAInfoDescription", "0"});
    }
    const auto r = host.run(cmds, simulate(kOneGpu));
    for (const auto& line : r.allOf("ZXGetVGAInfoDescription")) {
        EXPECT_EQ(line.substr(0, 13), "0 1 [Genuine]");
    }
    EXPECT_EQ(r.allOf("ZXGetVGAInfoDescription").size(), 20u);
    // Whether the swap came in time depends on scheduling; what was read must
    // not. A planted file is left where it was put, never taken for ours.
    RecordProperty("swaps", swapper.swaps());
}

// Card data whose profile is saved as UTF-16 or carries NUL bytes: the reader
// takes it as the system's private-profile function does.
TEST_F(StartUpE2E, ProfilesInUtf16OrWithNulBytesReadAsTheSystemReadsThem) {
    using namespace std::string_literals;
    addPciDevice(nvidiaCard("0000:01:00.0"));
    const auto env = simulate(kOneGpu);
    auto runWith = [&](const std::string& plain) {
        host.addCardData("NVVGA.DAT", plain);
        const auto r = host.run({"ZXInitLib", "ZXGetControlMode", "ZXGetVGAInfoDescription", "0"}, env);
        EXPECT_EQ(r.of("ZXInitLib"), "0");
        return std::pair{r.of("ZXGetControlMode"), r.of("ZXGetVGAInfoDescription")};
    };
    auto utf16le = [](std::u16string_view text, bool mark) {
        std::string out = mark ? "\xFF\xFE" : "";
        for (const char16_t u : text) {
            out += static_cast<char>(u & 0xFF);
            out += static_cast<char>(u >> 8);
        }
        return out;
    };
    const std::u16string_view wide =
        u"[10DE_0611_A102_7A3C]\r\nGPUVoltageStep=125\r\nPWMClockStep=1\r\nVGAInfoString0=Caf\u00E9\r\n"
        u"VGAInfoString1=Second\r\n";
    const auto limits = runWith("[10DE_0611_A102_7A3C]\nGPUVoltageStep=125\nPWMClockStep=1\n").first;
    const auto none = runWith("").first;
    ASSERT_NE(limits, none);

    struct Case {
        const char* what;
        std::string plain;
        std::string controlMode;
        std::string descriptions;  // start of the line
    };
    const Case cases[] = {
        {"UTF-16LE with its mark", utf16le(wide, true), limits, "0 2 [Caf\xC3\xA9] [Second] []"},
        {"UTF-16LE without a mark", utf16le(wide, false), none, "0 0 [] []"},
        {"NUL padding ends the descriptions",
         "[10DE_0611_A102_7A3C]\nVGAInfoString0=First\nVGAInfoString1=\0\0\0\0\nVGAInfoString2=Third\n"s, none,
         "0 1 [First] []"},
        {"names with a NUL match up to it",
         "[10DE_0611_A102_7A3C\0junk]\nGPUVoltageStep\0junk=125\nPWMClockStep=1\0junk\n"s, limits, "0 0 []"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto [mode, desc] = runWith(c.plain);
        EXPECT_EQ(mode, c.controlMode);
        EXPECT_EQ(desc.substr(0, c.descriptions.size()), c.descriptions);
    }
}

// --- A broken store never holds up a start-up ---------------------------------

class BrokenStoreE2E : public StartUpE2E {
protected:
    void SetUp() override {
        addPciDevice(nvidiaCard("0000:01:00.0"));
        // A registry-voltage card: its profile reader writes to the store.
        host.addCardData("NVVGA.DAT", "[10DE_0611_A102_7A3C]\nGPUVoltageStart=1300\nGPUVoltageCurrent=1250\n");
        env = simulate(kOneGpu);
        zxtest::makeDirs(storeFolder());
    }
    static std::string storeFolder() { return zxtest::configDir() + "/zxdisplaylib"; }
    static std::vector<std::string> brokenFiles() {
        std::vector<std::string> out;
        for (const auto& e : std::filesystem::directory_iterator(storeFolder())) {
            if (e.path().filename().string().rfind("registry.db.broken-", 0) == 0 &&
                e.path().filename().string().find("-wal") == std::string::npos &&
                e.path().filename().string().find("-shm") == std::string::npos) {
                out.push_back(e.path().string());
            }
        }
        return out;
    }
    static bool isDatabase(const std::string& path) {
        return zxtest::readFile(path).substr(0, 16) == std::string("SQLite format 3\0", 16);
    }
    // ZXInitLib's answer; a start-up that waited on the store takes many
    // seconds, one that does not well under one.
    std::string startUp() {
        const auto begin = std::chrono::steady_clock::now();
        const auto r = host.run({"ZXInitLib"}, env);
        EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(5)) << "start-up waited on the store";
        return r.of("ZXInitLib");
    }
    zxtest::EnvVars env;
};

TEST_F(BrokenStoreE2E, AFileThatIsNoDatabaseIsMovedAsideAndANewStoreBegins) {
    std::string noise(8192, '\0');
    std::mt19937 random(7);
    for (char& c : noise) {
        c = static_cast<char>(random());
    }
    zxtest::writeFile(storeFolder() + "/registry.db", noise);

    EXPECT_EQ(startUp(), "0");
    const auto aside = brokenFiles();
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(zxtest::readFile(aside[0]), noise) << "the broken file is kept as it was";
    EXPECT_TRUE(isDatabase(storeFolder() + "/registry.db"));

    EXPECT_EQ(startUp(), "0");
    EXPECT_EQ(brokenFiles().size(), 1u) << "the new store is used, not moved aside again";
}

TEST_F(BrokenStoreE2E, AStoreThatCannotBeWrittenFailsAtOnce) {
    // Folder permissions bind only users other than root.
    if (::geteuid() == 0) {
        std::filesystem::path p = zxtest::testRoot();
        for (const auto& e : std::filesystem::recursive_directory_iterator(p)) {
            ASSERT_EQ(::lchown(e.path().c_str(), 65534, 65534), 0) << e.path();
        }
        ASSERT_EQ(::chown(p.c_str(), 65534, 65534), 0);
        host.userId = 65534;
    }
    EXPECT_EQ(startUp(), "0");
    ASSERT_TRUE(isDatabase(storeFolder() + "/registry.db"));

    ASSERT_EQ(::chmod(storeFolder().c_str(), 0500), 0);
    EXPECT_EQ(startUp(), "0");
    EXPECT_TRUE(brokenFiles().empty()) << "a store that cannot be written is not broken";

    ASSERT_EQ(::chmod(storeFolder().c_str(), 0700), 0);
    EXPECT_EQ(startUp(), "0");
}

}  // namespace
