// Authors card data files for tests with a cipher of the tests' own, kept apart from the library's so that a fault in
// one does not hide in both.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zxtest {

// MD5 of the card data password "53170264", computed independently.
extern const std::uint8_t kCardDataKey[16];

// RC4 with a fresh key stream over data.
void rc4(const std::uint8_t* key, std::size_t keyLen, std::uint8_t* data, std::size_t n);

// Enciphers plain profile text as a card data file: 1000-byte blocks, each with the key stream from its start, written
// as upper-case hex pairs.
std::string encodeCardData(const std::string& plain);

}  // namespace zxtest
