// The Windows build under Wine: both backends through the exports on the
// simulator DLLs and the real services, the device list only substituted
// (Wine has no PCI display adapters); then the services the backends do not show.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "carddata/carddata.h"
#include "core/ini_reader.h"
#include "platform/win32/win32_platform.h"
#include "support.h"
#include "zxdisplay.h"

namespace {

namespace win32 = zx::platform::win32;
using zx::platform::NamedLockResult;

// Set by the test when the lock holder of another process may end.
constexpr const char* kReleaseEvent = "ZXWinTestRelease";

template <class Fn>
Fn simulatorEntry(const char* library, const char* name) {
    const HMODULE module = ::LoadLibraryA(library);  // the very module the library will load
    return module != nullptr ? reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name))) : nullptr;
}

class Win32Backends : public ::testing::Test {
protected:
    void SetUp() override { zx::platform::setPlatform(&platform_); }
    void TearDown() override {
        ZXDeInitLib();
        zx::platform::setPlatform(nullptr);
        for (const char* name : {"NVVGA.DAT", "ATIVGA.DAT"}) {
            ::DeleteFileA((zxwin::programFolder() + name).c_str());
        }
    }

    // The card data file beside the program, enciphered on this platform.
    void writeCardData(const char* fileName, const std::string& profile) {
        const std::string hex = zx::carddata::encodeCardData(profile, zx::carddata::kPassword, zx::platform::native());
        ASSERT_FALSE(hex.empty());
        zxwin::writeFile(zxwin::programFolder() + fileName, hex);
    }

    // Output lines of the host, run on the real DLL in a process of its own.
    static std::string host(const std::string& commands) {
        FILE* child = zxwin::start("zxhost_win.exe", commands);
        std::string out;
        for (int c = std::fgetc(child); c != EOF; c = std::fgetc(child)) {
            out += static_cast<char>(c);
        }
        EXPECT_EQ(::_pclose(child), 0);
        return out;
    }

    zxwin::DeviceListPlatform platform_;
};

TEST_F(Win32Backends, NvidiaCard) {
    platform_.devices = {{"PCI\\VEN_10DE&DEV_0611&SUBSYS_A1027A3C&REV_A2\\4&1A2B3C4D&0&0008", true, "Display", true,
                          "PCI bus 1, device 0, function 0;(1,0,0)"}};

    auto load = simulatorEntry<int (*)(const char*)>("nvapi.dll", "zxsim_nvapi_load_scenario");
    auto clockKHz = simulatorEntry<long long (*)(unsigned, unsigned, unsigned)>("nvapi.dll", "zxsim_nvapi_clock_khz");
    ASSERT_TRUE(load != nullptr && clockKHz != nullptr);
    ASSERT_EQ(load("gpu bus=1 levels=2 current=1\n"
                   "clock sel=0 domain=0 freq=300000 min=100000 max=900000\n"
                   "clock sel=1 domain=0 freq=500000 min=100000 max=900000\n"),
              0);
    writeCardData("NVVGA.DAT", "[10DE_0611_A102_7A3C]\r\nVGAInfoString0=ZX GeForce\r\n");

    ASSERT_EQ(ZXInitLib(), ZX_STATUS_OK);
    ZXVgaInfoDescription desc;
    EXPECT_EQ(ZXGetVGAInfoDescription(0, &desc), ZX_STATUS_OK);
    EXPECT_STREQ(desc.strings[0], "ZX GeForce");
    EXPECT_EQ(ZXSetPerformanceLevelGPUClock(0, 1, 700), ZX_STATUS_OK);
    EXPECT_EQ(clockKHz(0, 1, 0), 700000);

    // A holder that ends without giving the lock back leaves it free: the
    // probe never creates the mutex.
    uint32_t lock = 0;
    const HANDLE release = ::CreateEventA(nullptr, TRUE, FALSE, kReleaseEvent);
    FILE* holder = zxwin::start("zx_win32_tests.exe", "--hold-lock");
    char said[16] = {};
    ASSERT_STREQ(std::fgets(said, sizeof said, holder), "held\n");
    EXPECT_EQ(ZXGetLockLibStatus(&lock), ZX_STATUS_OK);
    EXPECT_EQ(lock, ZX_LOCK_HELD_ELSEWHERE);
    EXPECT_EQ(ZXSetPerformanceLevelGPUClock(0, 1, 650), ZX_STATUS_LOCKED_BY_OTHER);
    EXPECT_EQ(ZXSetLockLibStatus(1), ZX_STATUS_FAILED);
    ::SetEvent(release);
    EXPECT_EQ(::_pclose(holder), 0);
    ::CloseHandle(release);
    EXPECT_EQ(clockKHz(0, 1, 0), 700000);
    EXPECT_EQ(ZXGetLockLibStatus(&lock), ZX_STATUS_OK);
    EXPECT_EQ(lock, ZX_LOCK_UNLOCKED);

    // Held here, it shuts out the host on the real DLL. The host's own start
    // sees Wine's device list: no adapters.
    ASSERT_EQ(ZXSetLockLibStatus(1), ZX_STATUS_OK);
    EXPECT_EQ(ZXSetLockLibStatus(1), ZX_STATUS_FAILED);  // held at most once
    EXPECT_EQ(host("set status init set"), "set -> 4\nstatus -> 3 lock=99\ninit -> 1\nset -> 4\n");
    EXPECT_EQ(ZXGetLockLibStatus(&lock), ZX_STATUS_OK);
    EXPECT_EQ(lock, ZX_LOCK_HELD_HERE);
    ASSERT_EQ(ZXSetLockLibStatus(0), ZX_STATUS_OK);
    EXPECT_EQ(ZXSetLockLibStatus(0), ZX_STATUS_FAILED);
    EXPECT_EQ(host("set"), "set -> 3\n");
}

TEST_F(Win32Backends, AtiCardWithItsStoreInTheRegistry) {
    const char* storeKey = "SOFTWARE\\ORVANTEK\\ZXDISPLAYLIB\\ATI\\Hardware\\1002_9440_0502_1787";
    ::RegDeleteTreeA(HKEY_CURRENT_USER, storeKey);
    platform_.devices = {{"PCI\\VEN_1002&DEV_9440&SUBSYS_05021787&REV_00\\4&2B3C4D5E&0&0008", true, "Display", true,
                          "PCI bus 1, device 0, function 0;(1,0,0)"}};

    auto load = simulatorEntry<int (*)(const char*)>("atipdlxx.dll", "zxsim_ati_load_scenario");
    ASSERT_NE(load, nullptr);
    ASSERT_EQ(load("gpu bus=1\n"
                   "od vmin=1000 vmax=1200 vstep=50 emin=10000 emax=100000 estep=500 mmin=10000 mmax=150000 "
                   "mstep=500\n"
                   "level engine=30000 memory=50000 voltage=1000 dvoltage=1050\n"
                   "level engine=50000 memory=80000 voltage=1100 dvoltage=1100\n"
                   "activity percent=40 current=1\n"
                   "thermal temp=65999\n"),
              0);
    writeCardData("ATIVGA.DAT", "[1002_9440_0502_1787]\r\nVGAInfoString0=ZX Radeon\r\n");

    // The display devices are Wine's own: the walk must find one on the
    // desktop and make a device context for it.
    ASSERT_EQ(ZXInitLib(), ZX_STATUS_OK);
    uint32_t celsius = 0;
    EXPECT_EQ(ZXGetTemperature(0, &celsius), ZX_STATUS_OK);
    EXPECT_EQ(celsius, 65u);
    ZXLevelValues clocks;
    EXPECT_EQ(ZXGetPerformanceLevelGPUClocks(0, &clocks), ZX_STATUS_OK);
    EXPECT_EQ(clocks.values[1], 500u);

    // Defaults seeded at start-up: 260-byte REG_EXPAND_SZ values.
    char text[300] = {};
    DWORD type = 0;
    DWORD size = sizeof text;
    EXPECT_EQ(
        ::RegGetValueA(HKEY_CURRENT_USER, storeKey, "DefaultGPUClock1", RRF_RT_ANY | RRF_NOEXPAND, &type, text, &size),
        ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_EXPAND_SZ));
    EXPECT_EQ(size, 260u);
    EXPECT_STREQ(text, "50000");
}

// The file and its plain profile come from the Linux build's zxcarddata
// (scripts/test-windows.sh): the same 128-bit key must decode it exactly.
TEST(Win32CardData, AFileEncodedOnLinuxDecodesByteExactly) {
    const char* data = std::getenv("ZX_TEST_LINUX_CARD_DATA");
    const char* plain = std::getenv("ZX_TEST_LINUX_CARD_PROFILE");
    ASSERT_TRUE(data != nullptr && plain != nullptr) << "scripts/test-windows.sh sets ZX_TEST_LINUX_CARD_*";
    const std::string expected = zxwin::readFile(plain);

    std::unique_ptr<zx::platform::FileWriter> profile;
    ASSERT_EQ(zx::carddata::decodeCardDataFile(data, zxwin::scratchFolder("zxcarddata") + "\\VGA.ini",
                                               zx::carddata::kPassword, zx::platform::native(), &profile),
              0);
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(profile != nullptr && profile->readBack(1u << 20, bytes));
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), expected);
    EXPECT_EQ(zx::carddata::encodeCardData(expected, zx::carddata::kPassword, zx::platform::native()),
              zxwin::readFile(data));
}

struct ProfileCase {
    const char* what;
    std::string profile;
    const char* section;
    const char* key;
    DWORD size = 260;
};

// Every case where the common parser and the system differ is a failure.
TEST(Win32Profile, TheParserAnswersAsGetPrivateProfileStringA) {
    using namespace std::string_literals;
    const ProfileCase cases[] = {
        {"blanks and case", "  [ CaRd ]  \r\n\tkEy  =  a value \t\r\n", " Card ", "KEY"},
        {"double quotes", "[Card]\r\nKey=\"quoted\"\r\n", "Card", "Key"},
        {"quotes inside blanks", "[Card]\r\nKey= \" a \" \r\n", "Card", "Key"},
        {"blank and odd lines", "Key=0\r\n\r\n[Card]\r\n\r\n junk \r\n=x\r\nKey=a=b\r\n", "Card", "Key"},
        {"first duplicate key", "[Card]\r\nKey=1\r\nKey=2\r\n", "Card", "Key"},
        {"only the first of duplicate sections", "[Card]\r\nA=1\r\n[Card]\r\nKey=2\r\n", "Card", "Key"},
        {"truncated to the buffer", "[Card]\r\nKey=123456789\r\n", "Card", "Key", 5},
        {"UTF-16LE profile", "\xFF\xFE[\0C\0a\0r\0d\0]\0\r\0\n\0K\0e\0y\0=\0v\0\r\0\n\0"s, "Card", "Key"},
    };
    const std::string path = zxwin::scratchFolder("zxprofile") + "\\case.ini";
    for (const ProfileCase& c : cases) {
        zxwin::writeFile(path, c.profile);
        char system[300];
        char ours[300];
        std::memset(system, 'x', sizeof system);
        std::memset(ours, 'x', sizeof ours);
        const DWORD systemLength = ::GetPrivateProfileStringA(c.section, c.key, "", system, c.size, path.c_str());
        const std::uint32_t ourLength = zx::ini::Profile(c.profile).readString(c.section, c.key, ours, c.size);
        EXPECT_EQ(std::string(ours, ourLength), std::string(system, systemLength)) << c.what;
    }
}

// A vendor library planted in the current folder is never loaded, where the
// system's plain search would take it.
TEST(Win32Dynload, NeverFromTheCurrentFolder) {
    const std::string folder = zxwin::scratchFolder("zxcwd");
    const std::string dll = folder + "\\zxcwdonly.dll";
    ASSERT_TRUE(::CopyFileA((zxwin::programFolder() + "nvapi.dll").c_str(), dll.c_str(), FALSE));
    char previous[MAX_PATH] = {};
    ::GetCurrentDirectoryA(MAX_PATH, previous);
    ASSERT_TRUE(::SetCurrentDirectoryA(folder.c_str()));
    const zx::platform::NativeHandle planted = zx::platform::native().loadLibrary("zxcwdonly.dll");
    const HMODULE plain = ::LoadLibraryA("zxcwdonly.dll");
    ::SetCurrentDirectoryA(previous);
    EXPECT_EQ(planted, 0);
    EXPECT_NE(plain, nullptr);
    ::FreeLibrary(plain);
}

}  // namespace

// The test program doubles as the lock holder of another process:
// "--hold-lock" takes the card lock, says "held" and ends, without giving it
// back, once the test signals the release event.
int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "--hold-lock") {
        const HANDLE release = ::OpenEventA(SYNCHRONIZE, FALSE, kReleaseEvent);
        std::printf("%s\n", zx::platform::native().takeNamedLock("ZXDisplayLibMutex") == NamedLockResult::Created ? "held" : "refused");
        std::fflush(stdout);
        return ::WaitForSingleObject(release, 60000) == WAIT_OBJECT_0 ? 0 : 1;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
