#include "carddata/carddata.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace zx::carddata {

namespace {

// Letters run on past F (G is 16, Z is 35). Data files are not validated:
// any character converts to something, never to an error.
constexpr std::array<std::uint8_t, 256> makeDigitTable() {
    std::array<std::uint8_t, 256> table {};
    for (unsigned c = 0; c < 256; ++c) {
        if (c >= '0' && c <= '9') {
            table[c] = static_cast<std::uint8_t>(c - '0');
        } else if (c >= 'A' && c <= 'Z') {
            table[c] = static_cast<std::uint8_t>(c - 'A' + 10);
        } else if (c >= 'a' && c <= 'z') {
            table[c] = static_cast<std::uint8_t>(c - 'a' + 10);
        } else {
            table[c] = 255;
        }
    }
    return table;
}

// Looked up once per character: start-up decodes the whole file each time.
constexpr std::array<std::uint8_t, 256> kDigitValue = makeDigitTable();

}  // namespace

std::uint8_t hexDigitValue(char c) { return kDigitValue[static_cast<unsigned char>(c)]; }

std::size_t hexPairsToBytes(char* text) {
    const std::size_t n = std::strlen(text) / 2;
    const auto* in = reinterpret_cast<const unsigned char*>(text);
    auto* out = reinterpret_cast<unsigned char*>(text);
    // Byte i is written over character i, which the pairs still to come
    // (characters 2i and beyond) never need again.
    for (std::size_t i = 0; i < n; ++i) {
        out[i] = static_cast<unsigned char>((kDigitValue[in[2 * i]] << 4) + kDigitValue[in[2 * i + 1]]);
    }
    return n;
}

std::size_t decipherCardData(char* text, const char* password, platform::Platform& os) {
    const std::size_t n = hexPairsToBytes(text);
    auto* bytes = reinterpret_cast<std::uint8_t*>(text);
    // A missing cipher is not an error: the bytes stay undeciphered and the
    // profile reader finds no valid keys in them.
    const auto cipher = os.rc4FromPassword(password);
    for (std::size_t offset = 0; cipher && offset < n; offset += kBlockSize) {
        // Every block was enciphered with the key stream from its start.
        cipher->decryptBlock(bytes + offset, std::min(kBlockSize, n - offset));
    }
    return n;
}

int decodeCardDataFile(const std::string& dataPath, const std::string& profilePath, const char* password,
                       platform::Platform& os, std::unique_ptr<platform::FileWriter>* keepOpen) {
    std::vector<std::uint8_t> text;
    const bool haveData = os.readFile(dataPath, kMaxDataFileSize, text);
    // The profile is created even without data, so that the profile reader
    // finds an empty file rather than a stale one from an earlier start-up.
    std::unique_ptr<platform::FileWriter> ownProfile;
    std::unique_ptr<platform::FileWriter>& profile = keepOpen != nullptr ? *keepOpen : ownProfile;
    profile = os.createPrivateFile(profilePath);
    if (!haveData || !profile) {
        return -1;
    }

    // The text ends at the end of the file or at its first NUL.
    text.push_back(0);
    const std::size_t n = decipherCardData(reinterpret_cast<char*>(text.data()), password, os);
    profile->write(text.data(), n);
    return 0;
}

std::string encodeCardData(const std::string& plain, const char* password, platform::Platform& os) {
    const auto cipher = os.rc4FromPassword(password);
    if (!cipher) {
        return {};
    }
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(plain.size() * 2);
    std::uint8_t block[kBlockSize];
    for (std::size_t offset = 0; offset < plain.size(); offset += kBlockSize) {
        const std::size_t size = std::min(kBlockSize, plain.size() - offset);
        std::memcpy(block, plain.data() + offset, size);
        // RC4 is its own inverse: the deciphering key stream enciphers.
        cipher->decryptBlock(block, size);
        for (std::size_t i = 0; i < size; ++i) {
            out += kHex[block[i] >> 4];
            out += kHex[block[i] & 0xF];
        }
    }
    return out;
}

}  // namespace zx::carddata
