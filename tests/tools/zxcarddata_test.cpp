// zxcarddata as a separate process: byte-exact round trips, files made by the
// tests' own cipher, and the profile check.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/card_data.h"
#include "support/test_env.h"
#include "tools/run_tool.h"

namespace zxtest {
namespace {

ToolResult zxcarddata(std::vector<std::string> args, const std::string& stdinFile = "") {
    args.insert(args.begin(), ZXCARDDATA_PROGRAM);
    return runTool(args, stdinFile);
}

std::vector<std::string> bundledProfiles() {
    std::vector<std::string> out;
    for (const auto& m : std::filesystem::directory_iterator(ZX_TOOLS_SOURCE_DIR "/sim-machines")) {
        for (const auto& f : std::filesystem::directory_iterator(m.path())) {
            if (f.path().extension() == ".ini") {
                out.push_back(f.path().string());
            }
        }
    }
    return out;
}

TEST(Zxcarddata, RoundTripsAreByteExactAndMatchAnIndependentCipher) {
    std::string longProfile = "[10DE_0611_A102_7A3C]\r\n";
    for (int i = 0; i < 120; ++i) {
        longProfile += "GPUVoltageMax=" + std::to_string(1000 + i) + "\r\n";  // several 1000-byte blocks
    }
    const std::string plains[] = {
        readFile(bundledProfiles().at(0)),
        longProfile,
        std::string("\xFF\xFE[\0x\0]\0\r\0\n\0", 12),  // UTF-16LE with its mark
        std::string("\0bytes\x80\xFF", 8),
    };
    const std::string dat = testRoot() + "/NVVGA.DAT";
    const std::string ini = testRoot() + "/profile.ini";
    for (const std::string& plain : plains) {
        writeFile(ini, plain);
        ASSERT_EQ(zxcarddata({"encode", ini, "-o", dat}).exitCode, 0);
        EXPECT_EQ(readFile(dat), encodeCardData(plain));
        ASSERT_EQ(zxcarddata({"decode", dat, "-o", testRoot() + "/back.ini"}).exitCode, 0);
        EXPECT_EQ(readFile(testRoot() + "/back.ini"), plain);

        // A file from the tests' own cipher decodes; standard input and output work too.
        writeFile(dat, encodeCardData(plain));
        EXPECT_EQ(zxcarddata({"decode", dat}).out, plain);
        ASSERT_EQ(zxcarddata({"encode", dat}, ini).exitCode, 0);
        EXPECT_EQ(readFile(dat), encodeCardData(plain));
    }
}

TEST(Zxcarddata, CheckFlagsEachProblemOnce) {
    const std::string head = "[10DE_0611_A102_7A3C]\n";
    const std::pair<std::string, const char*> cases[] = {
        {head + "GPUVoltageMaxx=1\n", "unknown key 'GPUVoltageMaxx'"},
        {head + "VGAInfoString10=ten\n", "unknown key 'VGAInfoString10'"},
        {head + "GPUVoltageStep=25mV\n", "is not a decimal number"},
        {head + "MemoryVoltageMax=-1\n", "is not a decimal number"},
        {head + "VGAInfoString0=" + std::string(40, 'x') + "\n", "longer than 39 characters"},
        {head + "VGAInfoString0=a\nVGAInfoString2=c\nVGAInfoString4=e\n", "gap in the description numbering"},
        {head + "PWMClockMin=2\nPWMClockMax=1\n", "is above PWMClockMax"},
        {head + "GPUVoltageMin=1000\nGPUVoltageMax=1300\nGPUVoltageStep=40\n", "not a whole number"},
        {head + "GPUVoltageMin=1000\nGPUVoltageMax=1300\nDefaultGPUVoltage3D=1400\n", "outside its range"},
        {head + "MemoryVoltageMin=0\nMemoryVoltageMax=3\nDefaultMemoryVoltageLevel2D=4\n", "outside its range"},
        {"[10DE_0611_A102]\nGPUVoltageMax=1\n", "is not a CardId"},
        {"[GeForce]\n", "is not a CardId"},
    };
    const std::string ini = testRoot() + "/profile.ini";
    for (const auto& [profile, problem] : cases) {
        writeFile(ini, profile);
        const ToolResult r = zxcarddata({"check", ini});
        EXPECT_EQ(r.exitCode, 1) << profile;
        EXPECT_NE(r.out.find(problem), std::string::npos) << profile << r.out;
        EXPECT_NE(r.out.find(": 1 problem\n"), std::string::npos) << profile << r.out;
    }
}

TEST(Zxcarddata, CheckPassesTheBundledProfilesAndNamesTheEncoding) {
    ASSERT_FALSE(bundledProfiles().empty());
    for (const std::string& profile : bundledProfiles()) {
        const ToolResult r = zxcarddata({"check", profile});
        EXPECT_EQ(r.exitCode, 0) << profile << r.out;
        EXPECT_NE(r.out.find("no byte-order mark"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("no problems"), std::string::npos) << r.out;
    }
    // A UTF-16LE profile is checked as its text: the bad key is found.
    std::string utf16 = "\xFF\xFE";
    for (char c : std::string("[10DE_0611_A102_7A3C]\r\nFoo=1\r\nVGAInfoString0=Caf\xE9\r\n")) {
        utf16 += std::string{c, '\0'};
    }
    writeFile(testRoot() + "/utf16.ini", utf16);
    const ToolResult r = zxcarddata({"check", testRoot() + "/utf16.ini"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("UTF-16LE with byte-order mark"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(":2: [10DE_0611_A102_7A3C] unknown key 'Foo'"), std::string::npos) << r.out;
    EXPECT_EQ(zxcarddata({"check"}).exitCode, 2);
    EXPECT_EQ(zxcarddata({"decode", testRoot() + "/missing.DAT"}).exitCode, 3);
}

}  // namespace
}  // namespace zxtest
