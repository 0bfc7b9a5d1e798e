// The Windows build under Wine. Both backends end to end: the exports drive
// the simulator DLLs, loaded by name from the application's folder, with the
// card data file beside the program, the profile in the documents folder, the
// store in the registry and the lock a named mutex; only the device list is
// substituted (Wine has no PCI display adapters). Then the platform services
// on the real system calls, where the backend tests do not already show them.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "carddata/carddata.h"
#include "platform/common/ini_reader.h"
#include "platform/win32/win32_platform.h"
#include "support.h"
#include "zxdisplay.h"

namespace {

namespace win32 = zx::platform::win32;
using zx::platform::NamedLockResult;
using zx::platform::StoreResult;

zx::platform::DeviceRecord displayAdapter(const char* instanceId) {
    zx::platform::DeviceRecord rec;
    rec.instanceId = instanceId;
    rec.hasClass = true;
    rec.setupClass = "Display";
    rec.hasLocation = true;
    rec.location = "PCI bus 1, device 0, function 0;(1,0,0)";
    return rec;
}

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
        zxwin::Child child("zxhost_win.exe", commands);
        std::string out;
        for (std::string line = child.readLine(); !line.empty(); line = child.readLine()) {
            out += line + "\n";
        }
        EXPECT_EQ(child.wait(), 0u);
        return out;
    }

    zxwin::DeviceListPlatform platform_;
    std::string docs_;
};

TEST_F(Win32Backends, NvidiaCard) {
    platform_.devices = {displayAdapter("PCI\\VEN_10DE&DEV_0611&SUBSYS_A1027A3C&REV_A2\\4&1A2B3C4D&0&0008")};
    auto audio = displayAdapter("PCI\\VEN_10DE&DEV_0BE4&SUBSYS_A1027A3C&REV_A1\\4&1A2B3C4D&0&0108");
    audio.setupClass = "MEDIA";
    platform_.devices.push_back(audio);

    auto load = simulatorEntry<int (*)(const char*)>("nvapi.dll", "zxsim_nvapi_load_scenario");
    auto clockKHz = simulatorEntry<long long (*)(unsigned, unsigned, unsigned)>("nvapi.dll", "zxsim_nvapi_clock_khz");
    ASSERT_TRUE(load != nullptr && clockKHz != nullptr);
    ASSERT_EQ(load("gpu bus=1 levels=2 current=1\n"
                   "clock sel=0 domain=0 freq=300000 min=100000 max=900000\n"
                   "clock sel=1 domain=0 freq=500000 min=100000 max=900000\n"
                   "thermal temp=61\n"),
              0);
    writeCardData("NVVGA.DAT", "[10DE_0611_A102_7A3C]\r\nVGAInfoString0=ZX GeForce\r\n");
    ASSERT_TRUE(zx::platform::native().documentsFolder(docs_));
    ::CreateDirectoryA((docs_ + "\\temp").c_str(), nullptr);
    zxwin::writeFile(docs_ + "\\temp\\VGA.ini", "someone else's file");

    ASSERT_EQ(ZXInitLib(), ZX_STATUS_OK);
    ZXAdapterInfoRecord info;
    ASSERT_EQ(ZXGetAdapterInfo(&info), ZX_STATUS_OK);
    EXPECT_EQ(info.count, 1u);  // the audio function is no display adapter
    EXPECT_EQ(info.kind[0], ZX_VENDOR_NVIDIA);
    ZXVgaInfoDescription desc;
    ASSERT_EQ(ZXGetVGAInfoDescription(0, &desc), ZX_STATUS_OK);
    EXPECT_EQ(desc.count, 1u);
    EXPECT_STREQ(desc.strings[0], "ZX GeForce");
    uint32_t celsius = 0;
    EXPECT_EQ(ZXGetTemperature(0, &celsius), ZX_STATUS_OK);
    EXPECT_EQ(celsius, 61u);
    EXPECT_EQ(ZXSetPerformanceLevelGPUClock(0, 1, 700), ZX_STATUS_OK);
    EXPECT_EQ(clockKHz(0, 1, 0), 700000);

    EXPECT_FALSE(zxwin::exists(docs_ + "\\temp\\VGA.ini"));  // the stale one replaced, then removed

    // A holder that ends without giving the lock back leaves it free: the
    // probe never creates the mutex.
    uint32_t lock = 0;
    {
        zxwin::Child holder("zx_win32_tests.exe", "--hold-lock ZXDisplayLibMutex");
        ASSERT_EQ(holder.readLine(), "held");
        EXPECT_EQ(ZXGetLockLibStatus(&lock), ZX_STATUS_OK);
        EXPECT_EQ(lock, ZX_LOCK_HELD_ELSEWHERE);
        EXPECT_EQ(ZXSetPerformanceLevelGPUClock(0, 1, 650), ZX_STATUS_LOCKED_BY_OTHER);
        EXPECT_EQ(ZXSetLockLibStatus(1), ZX_STATUS_FAILED);
    }
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
    platform_.devices = {displayAdapter("PCI\\VEN_1002&DEV_9440&SUBSYS_05021787&REV_00\\4&2B3C4D5E&0&0008")};

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
    ASSERT_EQ(ZXGetPerformanceLevelGPUClocks(0, &clocks), ZX_STATUS_OK);
    EXPECT_EQ(clocks.count, 2u);
    EXPECT_EQ(clocks.values[1], 500u);

    // Defaults seeded at start-up: 260-byte REG_EXPAND_SZ values.
    HKEY key = nullptr;
    ASSERT_EQ(::RegOpenKeyExA(HKEY_CURRENT_USER, storeKey, 0, KEY_READ, &key), ERROR_SUCCESS);
    char text[300] = {};
    DWORD type = 0;
    DWORD size = sizeof text;
    EXPECT_EQ(::RegQueryValueExA(key, "DefaultGPUClock1", nullptr, &type, reinterpret_cast<BYTE*>(text), &size),
              ERROR_SUCCESS);
    ::RegCloseKey(key);
    EXPECT_EQ(type, static_cast<DWORD>(REG_EXPAND_SZ));
    EXPECT_EQ(size, 260u);
    EXPECT_STREQ(text, "50000");
}

TEST(Win32NamedLock, OfThreadsTakingAtOnceExactlyOneGetsItAndAnotherGivesItBack) {
    const char* name = "ZXWinTestLock";
    std::atomic<int> created {0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&] { created += win32::takeNamedLock(name) == NamedLockResult::Created ? 1 : 0; });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(created.load(), 1);
    std::thread([&] { EXPECT_TRUE(win32::releaseNamedLock(name)); }).join();
    EXPECT_EQ(win32::namedLockState(name), zx::platform::NamedLockState::Free);
}

// Key paths in any form and case; a buffer too small is left as it was.
TEST(Win32Store, ValuesReadBackWithTheirTypeAndSizeAndMissingPiecesAreTold) {
    const std::string root = "Software\\ZXDisplayLibTest";
    std::uint8_t block[260] = {'1', '2', '3', '4'};
    ASSERT_FALSE(win32::storeKeyExists("\\" + root + "\\Card\\"));
    ASSERT_TRUE(win32::storeCreateKey("\\" + root + "\\\\Card\\"));
    ASSERT_TRUE(win32::storeSet(root + "\\Card", "DefaultGPUClock0", 2, block, sizeof block));

    std::uint8_t out[300];
    std::uint32_t type = 0;
    std::uint32_t size = sizeof out;
    EXPECT_EQ(win32::storeQuery("SOFTWARE\\zxdisplaylibtest\\card\\", "defaultgpuclock0", &type, out, &size),
              StoreResult::Ok);
    EXPECT_EQ(type, 2u);
    EXPECT_EQ(size, 260u);
    EXPECT_EQ(std::memcmp(out, block, sizeof block), 0);
    std::uint8_t small[4] = {7, 7, 7, 7};
    size = sizeof small;
    EXPECT_EQ(win32::storeQuery(root + "\\Card", "DefaultGPUClock0", &type, small, &size), StoreResult::BufferTooSmall);
    EXPECT_EQ(size, 260u);
    EXPECT_EQ(small[0], 7);
    size = sizeof out;
    EXPECT_EQ(win32::storeQuery(root + "\\Card", "Missing", &type, out, &size), StoreResult::ValueNotFound);
    EXPECT_EQ(win32::storeQuery(root + "\\Missing", "Text", &type, out, &size), StoreResult::KeyNotFound);
    ::RegDeleteTreeA(HKEY_CURRENT_USER, root.c_str());
}

// The file and its plain profile come from the Linux build's zxcarddata
// (scripts/test-windows.sh): the same 128-bit key must decode it exactly.
TEST(Win32CardData, AFileEncodedOnLinuxDecodesByteExactly) {
    const char* data = std::getenv("ZX_TEST_LINUX_CARD_DATA");
    const char* plain = std::getenv("ZX_TEST_LINUX_CARD_PROFILE");
    ASSERT_TRUE(data != nullptr && plain != nullptr) << "scripts/test-windows.sh sets ZX_TEST_LINUX_CARD_*";
    const std::string expected = zxwin::readFile(plain);
    ASSERT_GT(expected.size(), 2000u) << "the profile should span several 1000-byte blocks";

    zxwin::ScratchFolder folder;
    std::unique_ptr<zx::platform::FileWriter> profile;
    ASSERT_EQ(zx::carddata::decodeCardDataFile(data, folder.path() + "\\VGA.ini", zx::carddata::kPassword,
                                               zx::platform::native(), &profile),
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
        {"plain", "[Card]\r\nKey=value\r\n", "Card", "Key"},
        {"case of names", "[CaRd]\r\nkEy=Value\r\n", "cArD", "KEY"},
        {"blanks trimmed", "  [ Card ]  \r\n  Key  =  a value  \r\n", "Card", "Key"},
        {"blanks in the names asked", "[Card]\r\nKey=v\r\n", " Card ", " Key "},
        {"tabs trimmed", "[Card]\r\n\tKey\t=\tv\t\r\n", "Card", "Key"},
        {"double quotes", "[Card]\r\nKey=\"quoted\"\r\n", "Card", "Key"},
        {"single quotes", "[Card]\r\nKey='quoted'\r\n", "Card", "Key"},
        {"unmatched quotes", "[Card]\r\nKey=\"quoted'\r\n", "Card", "Key"},
        {"one quote", "[Card]\r\nKey=\"\r\n", "Card", "Key"},
        {"empty value", "[Card]\r\nKey=\r\n", "Card", "Key"},
        {"no equals sign", "[Card]\r\nKey\r\n", "Card", "Key"},
        {"first equals splits", "[Card]\r\nKey=a=b\r\n", "Card", "Key"},
        {"semicolon key", "[Card]\r\n;Key=1\r\n", "Card", ";Key"},
        {"missing key", "[Card]\r\nKey=1\r\n", "Card", "Other"},
        {"missing section", "[Card]\r\nKey=1\r\n", "Other", "Key"},
        {"first duplicate key", "[Card]\r\nKey=1\r\nKey=2\r\n", "Card", "Key"},
        {"LF endings", "[Card]\nA=1\nKey=2\n", "Card", "Key"},
        {"CR endings", "[Card]\rA=1\rKey=2\r", "Card", "Key"},
        {"no final line end", "[Card]\r\nKey=last", "Card", "Key"},
        {"UTF-8 byte-order mark", "\xEF\xBB\xBF[Card]\r\nKey=1\r\n", "Card", "Key"},
        {"bracket without close", "[Card]\r\n[Key=1\r\n", "Card", "[Key"},
        {"text after the bracket", "[Card] tail\r\nKey=1\r\n", "Card", "Key"},
        {"truncated to the buffer", "[Card]\r\nKey=123456789\r\n", "Card", "Key", 5},
        {"value of the buffer's size", "[Card]\r\nKey=1234\r\n", "Card", "Key", 5},
        {"UTF-16LE profile", "\xFF\xFE[\0C\0a\0r\0d\0]\0\r\0\n\0K\0e\0y\0=\0v\0\r\0\n\0"s, "Card", "Key"},
        {"second section", "[A]\r\nKey=1\r\n[Card]\r\nKey=2\r\n", "Card", "Key"},
        {"key of another section", "[A]\r\nKey=1\r\n[Card]\r\nOther=2\r\n", "Card", "Key"},
        {"only the first of duplicate sections", "[Card]\r\nA=1\r\n[Card]\r\nKey=2\r\n", "Card", "Key"},
        {"blanks inside names", "[ My Card ]\r\nMy Key = a b \r\n", "My Card", "My Key"},
        {"quotes inside blanks", "[Card]\r\nKey= \" a \" \r\n", "Card", "Key"},
        {"two quotes", "[Card]\r\nKey=\"\"\r\n", "Card", "Key"},
        {"lines before any section", "Key=0\r\n[Card]\r\nKey=1\r\n", "Card", "Key"},
        {"blank and odd lines", "\r\n\r\n[Card]\r\n\r\n junk \r\n=x\r\nKey=1\r\n", "Card", "Key"},
    };
    zxwin::ScratchFolder folder;
    const std::string path = folder.path() + "\\case.ini";
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

// A library that only the current folder holds is not loaded, although the
// plain LoadLibraryA would find it there.
TEST(Win32Dynload, NeverFromTheCurrentFolder) {
    zxwin::ScratchFolder folder;
    ASSERT_TRUE(::CopyFileA((zxwin::programFolder() + "nvapi.dll").c_str(),
                            (folder.path() + "\\zxcwdonly.dll").c_str(), FALSE));
    char previous[MAX_PATH] = {};
    ::GetCurrentDirectoryA(MAX_PATH, previous);
    ASSERT_TRUE(::SetCurrentDirectoryA(folder.path().c_str()));
    const zx::platform::NativeHandle planted = win32::loadLibrary("zxcwdonly.dll");
    const HMODULE plain = ::LoadLibraryA("zxcwdonly.dll");
    ::SetCurrentDirectoryA(previous);
    EXPECT_EQ(planted, 0);
    EXPECT_NE(plain, nullptr);
    if (plain != nullptr) {
        ::FreeLibrary(plain);
    }
}

}  // namespace

// The test program doubles as a lock holder for the tests that need the lock
// held by another process: "--hold-lock NAME" takes it, says "held" and keeps
// it until killed.
int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--hold-lock") {
        std::printf("%s\n", win32::takeNamedLock(argv[2]) == NamedLockResult::Created ? "held" : "refused");
        std::fflush(stdout);
        ::Sleep(INFINITE);
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
