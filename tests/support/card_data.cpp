#include "support/card_data.h"

#include <cstdio>
#include <utility>

namespace zxtest {

// c89cb0e51004d38248f9e65b655f8caf, from Python's hashlib.md5(b"53170264").
const std::uint8_t kCardDataKey[16] = {0xc8, 0x9c, 0xb0, 0xe5, 0x10, 0x04, 0xd3, 0x82,
                                       0x48, 0xf9, 0xe6, 0x5b, 0x65, 0x5f, 0x8c, 0xaf};

void rc4(const std::uint8_t* key, std::size_t keyLen, std::uint8_t* data, std::size_t n) {
    std::uint8_t s[256];
    for (int i = 0; i < 256; ++i) s[i] = static_cast<std::uint8_t>(i);
    for (int i = 0, j = 0; i < 256; ++i) {
        j = (j + s[i] + key[i % keyLen]) & 0xFF;
        std::swap(s[i], s[j]);
    }
    for (std::size_t k = 0, i = 0, j = 0; k < n; ++k) {
        i = (i + 1) & 0xFF;
        j = (j + s[i]) & 0xFF;
        std::swap(s[i], s[j]);
        data[k] ^= s[(s[i] + s[j]) & 0xFF];
    }
}

std::string encodeCardData(const std::string& plain) {
    std::vector<std::uint8_t> bytes(plain.begin(), plain.end());
    for (std::size_t off = 0; off < bytes.size(); off += 1000) {
        const std::size_t n = bytes.size() - off < 1000 ? bytes.size() - off : 1000;
        rc4(kCardDataKey, sizeof kCardDataKey, bytes.data() + off, n);
    }
    std::string out;
    char pair[3];
    for (std::uint8_t b : bytes) {
        std::snprintf(pair, sizeof pair, "%02X", b);
        out += pair;
    }
    return out;
}

}  // namespace zxtest
