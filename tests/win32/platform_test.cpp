// The Windows platform services on the real system calls, under Wine, where
// the end-to-end backend tests do not already show them.
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

namespace {

namespace win32 = zx::platform::win32;
using zx::platform::NamedLockResult;
using zx::platform::StoreResult;

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

// The backend tests substitute the device list; the system's own is read here.
TEST(Win32Devices, TheSystemListIsReadable) {
    std::vector<zx::platform::DeviceRecord> devices;
    EXPECT_TRUE(win32::listDevices(devices));
    EXPECT_GE(win32::osMajorVersion(), 6u);
    EXPECT_EQ(win32::createDeviceContext(""), 0);
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
