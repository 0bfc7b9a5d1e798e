// RC4 keyed from the MD5 digest of the card data password, against the
// tests' own RC4.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "support/card_data.h"

namespace {

using zxtest::kCardDataKey;

// The tests' own RC4 (support/card_data.h), over a copy of data.
std::vector<std::uint8_t> referenceRc4(std::vector<std::uint8_t> data) {
    zxtest::rc4(kCardDataKey, sizeof kCardDataKey, data.data(), data.size());
    return data;
}

std::vector<std::uint8_t> bytes(const std::string& s) { return {s.begin(), s.end()}; }

TEST(PlatformCrypto, KeyIsTheWholeMd5DigestOfThePassword) {
    const auto plain = bytes("[10DE_0611_3457_1458]\r\nGPUVoltageMax=1300\r\n");
    auto data = referenceRc4(plain);
    ASSERT_NE(data, plain);

    auto cipher = zx::platform::native().rc4FromPassword("53170264");
    ASSERT_NE(cipher, nullptr);
    cipher->decryptBlock(data.data(), data.size());
    EXPECT_EQ(data, plain);
}

TEST(PlatformCrypto, EveryBlockStartsTheKeyStreamAfresh) {
    // A full 1000-byte block, then a short one, each enciphered from the
    // start of the key stream.
    std::vector<std::uint8_t> first(1000);
    for (std::size_t i = 0; i < first.size(); ++i) {
        first[i] = static_cast<std::uint8_t>('A' + i % 26);
    }
    const auto second = bytes("x");
    auto block1 = referenceRc4(first);
    auto block2 = referenceRc4(second);

    auto cipher = zx::platform::native().rc4FromPassword("53170264");
    ASSERT_NE(cipher, nullptr);
    cipher->decryptBlock(block1.data(), block1.size());
    cipher->decryptBlock(block2.data(), block2.size());
    EXPECT_EQ(block1, first);
    EXPECT_EQ(block2, second);
}

}  // namespace
