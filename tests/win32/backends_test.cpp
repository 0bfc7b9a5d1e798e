// Both backends end to end on the Windows platform: the exports drive the
// simulator DLLs, loaded by name from the application's folder, with the card
// data file beside the program, the profile in the documents folder, the
// store in the registry and the lock a named mutex. Only the device list is
// substituted (Wine has no PCI display adapters); everything else is real.
#include <gtest/gtest.h>

#include <string>

#include "carddata/carddata.h"
#include "support.h"
#include "zxdisplay.h"

namespace {

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

}  // namespace
