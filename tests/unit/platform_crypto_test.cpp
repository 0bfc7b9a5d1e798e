// RC4 keyed from the MD5 digest of the card data password, against the
// tests' own RC4.
#include <gtest/gtest.h>

#include <vector>

#include "platform/platform.h"
#include "support/card_data.h"

namespace {

TEST(PlatformCrypto, KeyIsTheWholeDigestAndEveryBlockStartsTheKeyStreamAfresh) {
    // A full 1000-byte block, then a short one.
    std::vector<std::uint8_t> first(1000);
    for (std::size_t i = 0; i < first.size(); ++i) {
        first[i] = static_cast<std::uint8_t>('A' + i % 26);
    }
    const std::vector<std::uint8_t> second = {'x', 'y'};
    auto block1 = first;
    auto block2 = second;
    zxtest::rc4(zxtest::kCardDataKey, sizeof zxtest::kCardDataKey, block1.data(), block1.size());
    zxtest::rc4(zxtest::kCardDataKey, sizeof zxtest::kCardDataKey, block2.data(), block2.size());

    auto cipher = zx::platform::native().rc4FromPassword("53170264");
    ASSERT_NE(cipher, nullptr);
    cipher->decryptBlock(block1.data(), block1.size());
    cipher->decryptBlock(block2.data(), block2.size());
    EXPECT_EQ(block1, first);
    EXPECT_EQ(block2, second);
}

}  // namespace
