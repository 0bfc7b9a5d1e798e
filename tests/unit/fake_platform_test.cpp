// The fake platform stands in for the OS in many tests; where it models a
// system behaviour that the code under test relies on, it must model it right.
#include "support/fake_platform.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

namespace zp = zx::platform;

TEST(FakePlatform, ProfileLookupIgnoresCaseAndTrimsValues) {
    zxtest::FakePlatform os;
    os.putFile("/p.ini", "[Other]\nKey=wrong\n[10de_0611_A102_7A3C]\r\n; note\r\n  GPUVoltageStep =  125 \r\n");
    char buf[8];
    EXPECT_EQ(os.readProfileString("/p.ini", "10DE_0611_A102_7A3C", "gpuvoltagestep", buf, sizeof buf), 3u);
    EXPECT_STREQ(buf, "125");

    std::memcpy(buf, "xxxxxxx", 8);
    EXPECT_EQ(os.readProfileString("/p.ini", "10DE_0611_A102_7A3C", "Key", buf, sizeof buf), 0u);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(os.readProfileString("/missing.ini", "Other", "Key", buf, sizeof buf), 0u);
    EXPECT_STREQ(buf, "");
}

TEST(FakePlatform, ProfileValueIsCutToTheBuffer) {
    zxtest::FakePlatform os;
    os.putFile("/p.ini", "[S]\nK=abcdefgh\n");
    char buf[4];
    EXPECT_EQ(os.readProfileString("/p.ini", "S", "K", buf, sizeof buf), 3u);
    EXPECT_STREQ(buf, "abc");
}

TEST(FakePlatform, StoreKeysAndNamesIgnoreCase) {
    zxtest::FakePlatform os;
    const std::uint8_t value[] = "42";
    ASSERT_TRUE(os.storeSet("SOFTWARE\\Maker\\Card\\", "DefaultGPUClock0", zp::kRegSz, value, sizeof value));
    EXPECT_TRUE(os.storeKeyExists("software\\maker"));
    EXPECT_EQ(os.storeString("Software\\Maker\\Card", "defaultgpuclock0"), "42");

    std::uint32_t type = 0;
    std::uint8_t data[8] = {};
    std::uint32_t size = 2;
    EXPECT_EQ(os.storeQuery("SOFTWARE\\MAKER\\CARD", "DefaultGPUClock0", &type, data, &size),
              zp::StoreResult::BufferTooSmall);
    EXPECT_EQ(size, 3u);
    EXPECT_EQ(data[0], 0);

    size = sizeof data;
    EXPECT_EQ(os.storeQuery("SOFTWARE\\MAKER\\CARD", "DefaultGPUClock0", &type, data, &size), zp::StoreResult::Ok);
    EXPECT_EQ(type, zp::kRegSz);
    EXPECT_EQ(size, 3u);
    EXPECT_STREQ(reinterpret_cast<const char*>(data), "42");
    EXPECT_EQ(os.storeQuery("SOFTWARE\\MAKER\\CARD", "Other", &type, data, &size), zp::StoreResult::ValueNotFound);
    EXPECT_EQ(os.storeQuery("SOFTWARE\\MAKER\\NONE", "Other", &type, data, &size), zp::StoreResult::KeyNotFound);
}

TEST(FakePlatform, NamedLockExistsUntilItsHolderReleasesIt) {
    zxtest::FakePlatform os;
    zp::NativeHandle mine = 0;
    zp::NativeHandle other = 0;
    ASSERT_EQ(os.createNamedLock("L", mine), zp::NamedLockResult::Created);
    EXPECT_EQ(os.createNamedLock("L", other), zp::NamedLockResult::AlreadyExists);
    os.releaseNamedLock(mine);
    EXPECT_EQ(os.createNamedLock("L", other), zp::NamedLockResult::Created);
}

TEST(FakePlatform, LibrariesResolveOnlyTheirOwnSymbols) {
    zxtest::FakePlatform os;
    int entry = 0;
    os.libraries["vendor.so"].symbols["Entry"] = &entry;
    EXPECT_EQ(os.loadLibrary("other.so"), 0);
    const auto lib = os.loadLibrary("vendor.so");
    ASSERT_NE(lib, 0);
    EXPECT_EQ(os.findSymbol(lib, "Entry"), &entry);
    EXPECT_EQ(os.findSymbol(lib, "Missing"), nullptr);
    os.freeLibrary(lib);
    EXPECT_EQ(os.openLibraryCount(), 0u);
    EXPECT_EQ(os.findSymbol(lib, "Entry"), nullptr);
}

}  // namespace
