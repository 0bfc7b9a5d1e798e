// Reading the NVIDIA values of the per-user store (writing: NvRegulatorKindTest), and a refused write.
#include "nv/nv_store.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/platform.h"
#include "support/fake_platform.h"

namespace {

const std::string kKey = "SOFTWARE\\ORVANTEK\\PKM\\NV\\Hardware\\10DE_0611_A102_7A3C\\";

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
        {"longer than 32 bytes", true, std::string(40, '7') + '\0', false, 99},
        {"empty", true, std::string(1, '\0'), false, 0},
        {"text after the digits", true, std::string("12abc", 6), true, 12},
        {"32 bytes without a terminator", true, std::string(32, '1'), true, 2147483647},
    };
    auto& os = zx::platform::native();
    int serial = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string key = kKey + std::to_string(serial++);
        if (c.keyExists) {
            ASSERT_TRUE(os.storeCreateKey(key));
        }
        if (c.bytes) {
            ASSERT_TRUE(os.storeSet(key, "GPUVoltageStart", zx::platform::kRegSz,
                                    reinterpret_cast<const std::uint8_t*>(c.bytes->data()),
                                    static_cast<std::uint32_t>(c.bytes->size())));
        }
        std::uint32_t out = 99;
        EXPECT_EQ(zx::nv::registryRead(os, key, "GPUVoltageStart", &out), c.read);
        EXPECT_EQ(out, c.out);
    }
}

// A store that cannot take the key reports the write as failed.
TEST(NvStore, AWriteTheStoreRefusesFails) {
    zxtest::FakePlatform os;
    os.storeFails = true;
    EXPECT_FALSE(zx::nv::registryWrite(os, kKey, "GPUVoltageCurrent", 1100));
}

}  // namespace
