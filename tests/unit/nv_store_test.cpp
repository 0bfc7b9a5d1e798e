// The NVIDIA values in the per-user store, on an in-memory platform.
#include "nv/nv_store.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "support/fake_platform.h"

namespace {

const std::string kKey = "SOFTWARE\\ORVANTEK\\PKM\\NV\\Hardware\\10DE_0611_A102_7A3C\\";

std::string sz(const std::string& text) { return text + '\0'; }

TEST(NvStore, WritesSignedDecimalTextWithItsTerminator) {
    zxtest::FakePlatform os;
    ASSERT_TRUE(zx::nv::registryWrite(os, kKey, "GPUVoltageStart", 1300));
    const auto& value = os.store[zxtest::FakePlatform::normaliseKey(kKey)]["gpuvoltagestart"];
    EXPECT_EQ(value.type, zx::platform::kRegSz);
    EXPECT_EQ(value.data, (std::vector<std::uint8_t>{'1', '3', '0', '0', 0}));
    ASSERT_TRUE(zx::nv::registryWrite(os, kKey, "GPUVoltageCurrent", -25));
    EXPECT_EQ(os.storeString(kKey, "GPUVoltageCurrent"), "-25");

    os.storeFails = true;
    EXPECT_FALSE(zx::nv::registryWrite(os, kKey, "GPUVoltageStart", 1));
}

TEST(NvStore, ReadsDecimalTextAsAnUnsignedWord) {
    const struct {
        const char* what;
        bool keyExists;
        std::optional<std::string> bytes;  // the stored value, as is
        bool read;
        std::uint32_t out;  // 99 before the read
    } cases[] = {
        {"no key", false, std::nullopt, false, 99},
        {"no value", true, std::nullopt, false, 99},
        {"longer than 32 bytes", true, sz(std::string(40, '7')), false, 99},
        {"empty", true, sz(""), false, 0},
        {"negative", true, sz("-25"), true, static_cast<std::uint32_t>(-25)},
        {"text after the digits", true, sz("12abc"), true, 12},
        {"32 bytes without a terminator", true, std::string(32, '1'), true, 2147483647},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        zxtest::FakePlatform os;
        if (c.keyExists) {
            os.putStoreString(kKey, "Other", "5");
        }
        if (c.bytes) {
            os.store[zxtest::FakePlatform::normaliseKey(kKey)]["gpuvoltagestart"].data.assign(c.bytes->begin(),
                                                                                                c.bytes->end());
        }
        std::uint32_t out = 99;
        EXPECT_EQ(zx::nv::registryRead(os, kKey, "GPUVoltageStart", &out), c.read);
        EXPECT_EQ(out, c.out);
    }
}

}  // namespace
