// The Windows platform services on the real system calls, under Wine.
#include <gtest/gtest.h>

#include <atomic>
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
using zx::platform::NamedLockState;
using zx::platform::StoreResult;

// --- Named lock --------------------------------------------------------------

TEST(Win32NamedLock, HeldByAnotherProcessUntilItEnds) {
    const char* name = "ZXWinTestLockA";
    {
        zxwin::Child holder("zx_win32_tests.exe", std::string("--hold-lock ") + name);
        ASSERT_EQ(holder.readLine(), "held");
        EXPECT_EQ(win32::namedLockState(name), NamedLockState::HeldElsewhere);
        EXPECT_EQ(win32::takeNamedLock(name), NamedLockResult::AlreadyExists);
        EXPECT_FALSE(win32::releaseNamedLock(name));
        holder.kill();  // ends without giving the lock back
    }
    // Probing never created the mutex: with its holder gone it is free.
    EXPECT_EQ(win32::namedLockState(name), NamedLockState::Free);

    ASSERT_EQ(win32::takeNamedLock(name), NamedLockResult::Created);
    EXPECT_EQ(win32::namedLockState(name), NamedLockState::HeldHere);
    EXPECT_EQ(win32::takeNamedLock(name), NamedLockResult::AlreadyExists);  // held at most once
    {
        zxwin::Child other("zx_win32_tests.exe", std::string("--hold-lock ") + name);
        EXPECT_EQ(other.readLine(), "refused");
        other.writeLine("end");
        EXPECT_EQ(other.wait(), 0u);
    }
    EXPECT_TRUE(win32::releaseNamedLock(name));
    EXPECT_FALSE(win32::releaseNamedLock(name));
    EXPECT_EQ(win32::namedLockState(name), NamedLockState::Free);
}

TEST(Win32NamedLock, OfThreadsTakingAtOnceExactlyOneGetsIt) {
    const char* name = "ZXWinTestLockB";
    std::atomic<int> created{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&] { created += win32::takeNamedLock(name) == NamedLockResult::Created ? 1 : 0; });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(created.load(), 1);
    // Given back from another thread than the one that took it.
    std::thread([&] { EXPECT_TRUE(win32::releaseNamedLock(name)); }).join();
    EXPECT_EQ(win32::namedLockState(name), NamedLockState::Free);
}

// --- Devices ---------------------------------------------------------------------

TEST(Win32Devices, TheSystemListsAreReadable) {
    std::vector<zx::platform::DeviceRecord> devices;
    EXPECT_TRUE(win32::listDevices(devices));
    EXPECT_GE(win32::osMajorVersion(), 6u);
    zx::platform::DisplayDevice display;
    ASSERT_TRUE(win32::displayDevice(0, display));
    const zx::platform::NativeHandle context = win32::createDeviceContext(display.name);
    EXPECT_NE(context, 0);
    win32::deleteDeviceContext(context);
    EXPECT_EQ(win32::createDeviceContext(""), 0);
}

// --- Per-user store: the registry under HKEY_CURRENT_USER ----------------------

class Win32Store : public ::testing::Test {
protected:
    static constexpr const char* kRoot = "Software\\ZXDisplayLibTest";
    void TearDown() override { ::RegDeleteTreeA(HKEY_CURRENT_USER, kRoot); }
};

TEST_F(Win32Store, ValuesLandInTheRegistryWithTheirTypeAndSize) {
    // As the ATI store writes: a 260-byte zero-padded REG_EXPAND_SZ block.
    std::uint8_t block[260] = {};
    std::memcpy(block, "1234", 4);
    ASSERT_FALSE(win32::storeKeyExists("\\Software\\ZXDisplayLibTest\\Card\\"));
    ASSERT_TRUE(win32::storeCreateKey("\\Software\\ZXDisplayLibTest\\\\Card\\"));
    ASSERT_TRUE(win32::storeSet("Software\\ZXDisplayLibTest\\Card", "DefaultGPUClock0", 2, block, sizeof block));
    ASSERT_TRUE(win32::storeSet("Software\\ZXDisplayLibTest\\New\\Key", "Text", 1,
                                reinterpret_cast<const std::uint8_t*>("1300"), 5));

    HKEY key = nullptr;
    ASSERT_EQ(::RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\ZXDisplayLibTest\\Card", 0, KEY_READ, &key),
              ERROR_SUCCESS);
    DWORD type = 0;
    DWORD size = 0;
    EXPECT_EQ(::RegQueryValueExA(key, "DefaultGPUClock0", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    ::RegCloseKey(key);
    EXPECT_EQ(type, static_cast<DWORD>(REG_EXPAND_SZ));
    EXPECT_EQ(size, 260u);

    // Read back, names and paths in any case and form.
    std::uint8_t out[300];
    std::uint32_t outType = 0;
    std::uint32_t outSize = sizeof out;
    EXPECT_EQ(win32::storeQuery("SOFTWARE\\zxdisplaylibtest\\card\\", "defaultgpuclock0", &outType, out, &outSize),
              StoreResult::Ok);
    EXPECT_EQ(outType, 2u);
    EXPECT_EQ(outSize, 260u);
    EXPECT_EQ(std::memcmp(out, block, sizeof block), 0);

    outSize = 0;
    EXPECT_EQ(win32::storeQuery(std::string(kRoot) + "\\New\\Key", "Text", &outType, nullptr, &outSize),
              StoreResult::Ok);
    EXPECT_EQ(outType, 1u);
    EXPECT_EQ(outSize, 5u);

    // A buffer too small is left as it was; the size needed comes back.
    std::uint8_t small[4] = {7, 7, 7, 7};
    outSize = sizeof small;
    EXPECT_EQ(win32::storeQuery(std::string(kRoot) + "\\Card", "DefaultGPUClock0", &outType, small, &outSize),
              StoreResult::BufferTooSmall);
    EXPECT_EQ(outSize, 260u);
    EXPECT_EQ(small[0], 7);

    outSize = sizeof out;
    EXPECT_EQ(win32::storeQuery(std::string(kRoot) + "\\Card", "Missing", &outType, out, &outSize),
              StoreResult::ValueNotFound);
    EXPECT_EQ(win32::storeQuery(std::string(kRoot) + "\\Missing", "Text", &outType, out, &outSize),
              StoreResult::KeyNotFound);
}

// --- Card data through CryptoAPI ---------------------------------------------

// The file and its plain profile come from the Linux build's zxcarddata
// (scripts/test-windows.sh): the same 128-bit key must decode it exactly.
TEST(Win32CardData, AFileEncodedOnLinuxDecodesByteExactly) {
    const char* data = std::getenv("ZX_TEST_LINUX_CARD_DATA");
    const char* plain = std::getenv("ZX_TEST_LINUX_CARD_PROFILE");
    ASSERT_TRUE(data != nullptr && plain != nullptr)
        << "set ZX_TEST_LINUX_CARD_DATA and ZX_TEST_LINUX_CARD_PROFILE (scripts/test-windows.sh does)";
    const std::string expected = zxwin::readFile(plain);
    ASSERT_GT(expected.size(), 2000u) << "the profile should span several 1000-byte blocks";

    zxwin::ScratchFolder folder;
    std::unique_ptr<zx::platform::FileWriter> profile;
    ASSERT_EQ(zx::carddata::decodeCardDataFile(data, folder.path() + "\\VGA.ini", zx::carddata::kPassword,
                                               zx::platform::native(), &profile),
              0);
    ASSERT_NE(profile, nullptr);
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(profile->readBack(1u << 20, bytes));
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), expected);
    EXPECT_EQ(zx::carddata::encodeCardData(expected, zx::carddata::kPassword, zx::platform::native()),
              zxwin::readFile(data));
}

// --- The private-profile parser against GetPrivateProfileStringA -----------------

struct ProfileCase {
    const char* what;
    std::string profile;
    const char* section;
    const char* key;
    DWORD size = 260;
};

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
        std::memset(system, 'x', sizeof system);
        const DWORD systemLength = ::GetPrivateProfileStringA(c.section, c.key, "", system, c.size, path.c_str());

        char ours[300];
        std::memset(ours, 'x', sizeof ours);
        const zx::ini::Profile profile(c.profile);
        const std::uint32_t ourLength = profile.readString(c.section, c.key, ours, c.size);

        EXPECT_EQ(ourLength, systemLength) << c.what;
        EXPECT_EQ(std::string(ours, ourLength), std::string(system, systemLength)) << c.what;
    }
}

// --- Files -------------------------------------------------------------------

TEST(Win32Files, PrivateFileReplacesWhatIsThereAndIsGoneWhenRemoved) {
    zxwin::ScratchFolder folder;
    const std::string path = folder.path() + "\\VGA.ini";
    zxwin::writeFile(path, "someone else's file");
    {
        auto file = win32::createPrivateFile(path);
        ASSERT_NE(file, nullptr);
        ASSERT_TRUE(file->write("[Card]\r\n", 8));
        std::vector<std::uint8_t> back;
        ASSERT_TRUE(file->readBack(100, back));
        EXPECT_EQ(std::string(back.begin(), back.end()), "[Card]\r\n");
        EXPECT_FALSE(file->readBack(7, back));  // above the limit
        EXPECT_TRUE(file->remove());
    }
    EXPECT_FALSE(zxwin::exists(path));

    std::string docs;
    ASSERT_TRUE(win32::documentsFolder(docs));
    EXPECT_NE(docs.back(), '\\');
    std::string exe;
    ASSERT_TRUE(win32::executableFolder(exe));
    EXPECT_TRUE(zxwin::exists(exe + "zx_win32_tests.exe"));
}

// --- Library loading -----------------------------------------------------------

TEST(Win32Dynload, FromTheApplicationFolderNeverTheCurrentFolder) {
    const zx::platform::NativeHandle nvapi = win32::loadLibrary("nvapi.dll");
    ASSERT_NE(nvapi, 0);
    EXPECT_NE(win32::findSymbol(nvapi, "nvapi_QueryInterface"), nullptr);
    EXPECT_EQ(win32::findSymbol(nvapi, "NoSuchEntry"), nullptr);
    win32::freeLibrary(nvapi);

    // A library that only the current folder holds is not loaded, although
    // the plain LoadLibraryA would find it there.
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
