// The NVIDIA values in the per-user store, on an in-memory platform.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "nv/nv_store.h"
#include "support/fake_platform.h"

namespace {

const std::string kKey = "SOFTWARE\\ORVANTEK\\PKM\\NV\\Hardware\\10DE_0611_A102_7A3C\\";

TEST(NvStore, WritesSignedDecimalTextWithItsTerminator) {
    zxtest::FakePlatform os;
    ASSERT_TRUE(zx::nv::registryWrite(os, kKey, "GPUVoltageStart", 1300));
    const auto& value = os.store[zxtest::FakePlatform::normaliseKey(kKey)]["gpuvoltagestart"];
    EXPECT_EQ(value.type, zx::platform::kRegSz);
    EXPECT_EQ(value.data, (std::vector<std::uint8_t>{'1', '3', '0', '0', 0}));

    ASSERT_TRUE(zx::nv::registryWrite(os, kKey, "GPUVoltageCurrent", -25));
    EXPECT_EQ(os.storeString(kKey, "GPUVoltageCurrent"), "-25");
}

TEST(NvStore, ReadsBackValuesAsUnsignedWords) {
    zxtest::FakePlatform os;
    os.putStoreString(kKey, "GPUVoltageCurrent", "-25");
    os.putStoreString(kKey, "GPUVoltageStart", "12abc");
    std::uint32_t out = 0;
    EXPECT_TRUE(zx::nv::registryRead(os, kKey, "GPUVoltageCurrent", &out));
    EXPECT_EQ(out, static_cast<std::uint32_t>(-25));
    EXPECT_TRUE(zx::nv::registryRead(os, kKey, "GPUVoltageStart", &out));
    EXPECT_EQ(out, 12u);
}

TEST(NvStore, AnEmptyValueReadsAsZeroButCountsAsUnread) {
    zxtest::FakePlatform os;
    os.putStoreString(kKey, "GPUVoltageCurrent", "");
    std::uint32_t out = 99;
    EXPECT_FALSE(zx::nv::registryRead(os, kKey, "GPUVoltageCurrent", &out));
    EXPECT_EQ(out, 0u);
}

TEST(NvStore, MissingKeysValuesAndOversizedValuesLeaveTheOutputAlone) {
    zxtest::FakePlatform os;
    std::uint32_t out = 99;
    EXPECT_FALSE(zx::nv::registryRead(os, kKey, "GPUVoltageStart", &out));
    os.putStoreString(kKey, "Other", "5");
    EXPECT_FALSE(zx::nv::registryRead(os, kKey, "GPUVoltageStart", &out));
    os.putStoreString(kKey, "GPUVoltageStart", std::string(40, '7'));
    EXPECT_FALSE(zx::nv::registryRead(os, kKey, "GPUVoltageStart", &out));
    EXPECT_EQ(out, 99u);
}

TEST(NvStore, AValueFillingAllThirtyTwoBytesStillParses) {
    zxtest::FakePlatform os;
    auto& value = os.store[zxtest::FakePlatform::normaliseKey(kKey)]["gpuvoltagestart"];
    value.data.assign(32, '1');  // no terminator
    std::uint32_t out = 0;
    EXPECT_TRUE(zx::nv::registryRead(os, kKey, "GPUVoltageStart", &out));
    EXPECT_EQ(out, 2147483647u);  // saturated
}

TEST(NvStore, AFailingStoreIsReported) {
    zxtest::FakePlatform os;
    os.storeFails = true;
    EXPECT_FALSE(zx::nv::registryWrite(os, kKey, "GPUVoltageStart", 1));
}

}  // namespace
