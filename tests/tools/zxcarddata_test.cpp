// zxcarddata as a separate process: byte-exact round trips, files made by the
// tests' own cipher, and the profile check.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/card_data.h"
#include "support/test_env.h"
#include "tools/run_tool.h"

namespace zxtest {
namespace {

ToolResult zxcarddata(std::vector<std::string> args) {
    args.insert(args.begin(), ZXCARDDATA_PROGRAM);
    return runTool(args);
}

TEST(Zxcarddata, RoundTripsAreByteExactAndMatchAnIndependentCipher) {
    std::string longProfile = "\xFF\xFE";  // any bytes: a byte-order mark, NULs
    for (int i = 0; i < 120; ++i) {
        longProfile += "GPUVoltageMax=" + std::to_string(1000 + i) + std::string("\r\n\0\x80", 4);
    }
    const std::string dat = testRoot() + "/NVVGA.DAT";
    const std::string ini = testRoot() + "/profile.ini";
    writeFile(ini, longProfile);  // several 1000-byte blocks
    ASSERT_EQ(zxcarddata({"encode", ini, "-o", dat}).exitCode, 0);
    EXPECT_EQ(readFile(dat), encodeCardData(longProfile));  // the tests' own cipher's file, decoded next
    ASSERT_EQ(zxcarddata({"decode", dat, "-o", testRoot() + "/back.ini"}).exitCode, 0);
    EXPECT_EQ(readFile(testRoot() + "/back.ini"), longProfile);
}

TEST(Zxcarddata, CheckFlagsEachProblemOnceAndPassesTheBundledProfiles) {
    const std::string head = "[10DE_0611_A102_7A3C]\n";
    std::string utf16 = "\xFF\xFE";  // checked as its text
    for (char c : head + "Foo=1\r\n") {
        utf16 += std::string{c, '\0'};
    }
    const std::pair<std::string, const char*> cases[] = {
        {head + "GPUVoltageMaxx=1\n", "unknown key 'GPUVoltageMaxx'"},
        {head + "GPUVoltageStep=25mV\n", "is not a decimal number"},
        {head + "VGAInfoString0=" + std::string(40, 'x') + "\n", "longer than 39 characters"},
        {head + "VGAInfoString0=a\nVGAInfoString2=c\n", "gap in the description numbering"},
        {head + "PWMClockMin=2\nPWMClockMax=1\n", "is above PWMClockMax"},
        {head + "GPUVoltageMin=1000\nGPUVoltageMax=1300\nGPUVoltageStep=40\n", "not a whole number"},
        {head + "GPUVoltageMin=1000\nGPUVoltageMax=1300\nDefaultGPUVoltage3D=1400\n", "outside its range"},
        {"[10DE_0611_A102]\nGPUVoltageMax=1\n", "is not a CardId"},
        {utf16, ":2: [10DE_0611_A102_7A3C] unknown key 'Foo'"},
    };
    const std::string ini = testRoot() + "/profile.ini";
    for (const auto& [profile, problem] : cases) {
        writeFile(ini, profile);
        const ToolResult r = zxcarddata({"check", ini});
        EXPECT_EQ(r.exitCode, 1) << profile;
        EXPECT_NE(r.out.find(problem), std::string::npos) << profile << r.out;
        EXPECT_NE(r.out.find(": 1 problem\n"), std::string::npos) << profile << r.out;
    }
    int profiles = 0;
    for (const auto& f : std::filesystem::recursive_directory_iterator(ZX_TOOLS_SOURCE_DIR "/sim-machines")) {
        if (f.path().extension() == ".ini") {
            const ToolResult r = zxcarddata({"check", f.path().string()});
            EXPECT_EQ(r.exitCode, 0) << f.path() << r.out;
            EXPECT_NE(r.out.find("no byte-order mark"), std::string::npos) << r.out;
            ++profiles;
        }
    }
    EXPECT_GT(profiles, 0);
}

}  // namespace
}  // namespace zxtest
