// Start-up through the real shared library, driven by a deployed host
// application on fake sysfs trees with the simulated NVAPI.
#include <gtest/gtest.h>

#include <string>
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

TEST_F(StartUpE2E, OneNvidiaCardBesideAnotherVendorsOnBoardAdapter) {
    addPciDevice(otherVendorDisplay("0000:00:02.0"));
    addPciDevice(nvidiaCard("0000:01:00.0"));
    const auto r = host.run({"ZXInitLib", "ZXGetAdapterInfo"}, simulate(kOneGpu));
    EXPECT_EQ(r.of("ZXInitLib"), "0");
    EXPECT_EQ(r.of("ZXGetAdapterInfo").substr(0, 9), "0 1 2 0 0");
}

TEST_F(StartUpE2E, AtiBesideNvidiaIsRefusedButBothAreListed) {
    addPciDevice(atiCard("0000:01:00.0"));
    addPciDevice(nvidiaCard("0000:02:00.0", 0x0611, 0xA102, 0x7A3C));
    const auto r = host.run({"ZXInitLib", "ZXGetGpuCount", "ZXGetTemperature", "0", "ZXGetAdapterInfo"});
    EXPECT_EQ(r.of("ZXInitLib"), "5");
    EXPECT_EQ(r.of("ZXGetGpuCount"), "3 0");
    EXPECT_EQ(r.of("ZXGetTemperature"), "3 0");
    // Entry 2 was never filled; location words are always handed out as 0.
    EXPECT_EQ(r.of("ZXGetAdapterInfo"), "0 2 1 2 0 1002_9460_0502_7A3C 10DE_0611_A102_7A3C ___ 0 0 0 0 0 0 0 0 0");
}

TEST_F(StartUpE2E, OnlyTheFirstThreeAdaptersAreRecorded) {
    for (const char* a : {"0000:01:00.0", "0000:02:00.0", "0000:03:00.0", "0000:04:00.0"}) {
        addPciDevice(nvidiaCard(a));
    }
    const auto r = host.run({"ZXInitLib", "ZXGetAdapterInfo"}, simulate(kTwoGpus));
    EXPECT_EQ(r.of("ZXGetAdapterInfo").substr(0, 9), "0 3 2 2 2");
}

TEST_F(StartUpE2E, ACardsAudioFunctionIsNotAnAdapter) {
    const auto card = nvidiaCard("0000:01:00.0");
    addPciDevice(card);
    addPciDevice(audioFunctionOf(card, "0000:01:00.1"));
    const auto r = host.run({"ZXInitLib", "ZXGetAdapterInfo"}, simulate(kOneGpu));
    EXPECT_EQ(r.of("ZXGetAdapterInfo").substr(0, 9), "0 1 2 0 0");
}

TEST_F(StartUpE2E, SubsystemIdComesBeforeTheBoardMakersVendorId) {
    addPciDevice(nvidiaCard("0000:01:00.0", 0x0606, 0xA101, 0x7A3C));
    const auto r = host.run({"ZXInitLib", "ZXGetAdapterInfo"}, simulate(kOneGpu));
    EXPECT_NE(r.of("ZXGetAdapterInfo").find("10DE_0606_A101_7A3C"), std::string::npos);
}

TEST_F(StartUpE2E, NoAdapterMeansFailureAndNothingStarted) {
    const auto r = host.run({"ZXGetAdapterInfo", "ZXInitLib", "ZXGetAdapterInfo", "ZXGetGpuCount", "ZXDeInitLib"});
    EXPECT_EQ(r.allOf("ZXGetAdapterInfo").size(), 2u);
    EXPECT_EQ(r.allOf("ZXGetAdapterInfo")[0].substr(0, 9), "3 0 0 0 0");
    EXPECT_EQ(r.of("ZXInitLib"), "1");
    EXPECT_EQ(r.allOf("ZXGetAdapterInfo")[1].substr(0, 9), "3 0 0 0 0");
    EXPECT_EQ(r.of("ZXGetGpuCount"), "3 0");
    EXPECT_EQ(r.of("ZXDeInitLib"), "3");
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
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE(round);
        zxtest::removeTree(go);
        const std::vector<std::string> cmds{"wait:" + go, "ZXInitLib", "ZXGetVGAInfoDescription", "0"};
        const pid_t a = host.start(cmds, env);
        const pid_t b = other.start(cmds, env);
        zxtest::writeFile(go, "");
        const auto ra = host.wait(a);
        const auto rb = other.wait(b);
        EXPECT_EQ(ra.of("ZXInitLib"), "0");
        EXPECT_EQ(rb.of("ZXInitLib"), "0");
        EXPECT_EQ(ra.of("ZXGetVGAInfoDescription").substr(0, 11), "0 1 [First]");
        EXPECT_EQ(rb.of("ZXGetVGAInfoDescription").substr(0, 12), "0 1 [Second]");
    }
    EXPECT_FALSE(zxtest::fileExists(zxtest::homeDir() + "/Documents/temp/VGA.ini"));
}

}  // namespace
