// RC4 keyed from the MD5 digest of the card data password, against an RC4
// written independently here.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace {

// MD5("53170264"), computed independently (Python's hashlib).
constexpr std::array<std::uint8_t, 16> kPasswordDigest = {0xc8, 0x9c, 0xb0, 0xe5, 0x10, 0x04, 0xd3, 0x82,
                                                          0x48, 0xf9, 0xe6, 0x5b, 0x65, 0x5f, 0x8c, 0xaf};

// Textbook RC4: key schedule, then the output generator XORed over the data.
std::vector<std::uint8_t> referenceRc4(const std::uint8_t* key, std::size_t keyLength, std::vector<std::uint8_t> data) {
    std::uint8_t s[256];
    for (int i = 0; i < 256; ++i) {
        s[i] = static_cast<std::uint8_t>(i);
    }
    for (int i = 0, j = 0; i < 256; ++i) {
        j = (j + s[i] + key[i % keyLength]) & 0xFF;
        std::swap(s[i], s[j]);
    }
    int i = 0;
    int j = 0;
    for (auto& byte : data) {
        i = (i + 1) & 0xFF;
        j = (j + s[i]) & 0xFF;
        std::swap(s[i], s[j]);
        byte ^= s[(s[i] + s[j]) & 0xFF];
    }
    return data;
}

std::vector<std::uint8_t> bytes(const std::string& s) { return {s.begin(), s.end()}; }

TEST(PlatformCrypto, ReferenceRc4MatchesAKnownVector) {
    // The widely published vector: key "Key", plaintext "Plaintext".
    const auto out = referenceRc4(reinterpret_cast<const std::uint8_t*>("Key"), 3, bytes("Plaintext"));
    EXPECT_EQ(out, (std::vector<std::uint8_t>{0xBB, 0xF3, 0x16, 0xE8, 0xD9, 0x40, 0xAF, 0x0A, 0xD3}));
}

TEST(PlatformCrypto, KeyIsTheWholeMd5DigestOfThePassword) {
    const auto plain = bytes("[10DE_0611_3457_1458]\r\nGPUVoltageMax=1300\r\n");
    auto data = referenceRc4(kPasswordDigest.data(), kPasswordDigest.size(), plain);
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
    auto block1 = referenceRc4(kPasswordDigest.data(), kPasswordDigest.size(), first);
    auto block2 = referenceRc4(kPasswordDigest.data(), kPasswordDigest.size(), second);

    auto cipher = zx::platform::native().rc4FromPassword("53170264");
    ASSERT_NE(cipher, nullptr);
    cipher->decryptBlock(block1.data(), block1.size());
    cipher->decryptBlock(block2.data(), block2.size());
    EXPECT_EQ(block1, first);
    EXPECT_EQ(block2, second);
}

}  // namespace
