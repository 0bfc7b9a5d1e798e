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

// Nothing the user did not mean is written, and input that is not what the
// command reads is refused, saying why.
TEST(Zxcarddata, RefusesInputItWouldMisreadAndNeverOverwritesAProfile) {
    const std::string ini = testRoot() + "/profile.ini";
    const std::string profile = "[10DE_0611_A102_7A3C]\nGPUVoltageMax=1300\n";
    const std::string junk = testRoot() + "/junk.DAT";
    writeFile(junk, "this is not hexadecimal\n");
    const std::string odd = testRoot() + "/odd.DAT";
    writeFile(odd, "ABC");
    const std::string empty = testRoot() + "/empty.ini";
    writeFile(empty, "");
    const std::string noSection = testRoot() + "/nosection.ini";
    writeFile(noSection, "GPUVoltageMax=1300\n");
    const std::string out = testRoot() + "/out";
    const struct {
        std::vector<std::string> args;
        int exitCode;
        const char* says;
    } cases[] = {
        {{"encode", ini}, 2, "is not a card data file and is left as it is"},  // standard input is empty
        {{"encode", empty, "-o", out}, 1, "is empty"},
        {{"decode", junk, "-o", out}, 1, "is not a card data file (byte 0"},
        {{"decode", odd, "-o", out}, 1, "an odd number of hexadecimal digits"},
        {{"decode", testRoot(), "-o", out}, 3, "it is a folder"},
        {{"check", testRoot()}, 3, "it is a folder"},
    };
    for (const auto& c : cases) {
        writeFile(ini, profile);
        std::filesystem::remove(out);
        const ToolResult r = zxcarddata(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.args[0] << " " << c.args[1] << "\n" << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args[1] << "\n" << r.err;
        EXPECT_EQ(readFile(ini), profile) << c.args[1];
        EXPECT_FALSE(std::filesystem::exists(out)) << c.args[1];
    }
    ToolResult r = zxcarddata({"check", noSection});
    EXPECT_EQ(r.exitCode, 1) << r.out;
    EXPECT_NE(r.out.find("no card section"), std::string::npos) << r.out;

    // Its data file would be one byte over the 16 MiB the library reads.
    writeFile(ini, profile + std::string(8 * 1024 * 1024 + 1 - profile.size(), ';'));
    r = zxcarddata({"encode", ini, "-o", out});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("the library reads none larger than 16777216"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(out));
}

}  // namespace
}  // namespace zxtest
