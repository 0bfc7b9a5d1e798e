// Card data files: hexadecimal text of RC4 ciphertext, deciphered in blocks
// of 1000 bytes into a plain private-profile file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/platform.h"

namespace zx::carddata {

inline constexpr const char* kPassword = "53170264";
inline constexpr std::size_t kBlockSize = 1000;
// Larger data files are treated as unreadable.
inline constexpr std::size_t kMaxDataFileSize = 16u * 1024u * 1024u;

// 0-9 give 0-9, A-Z and a-z give 10-35, anything else 255.
std::uint8_t hexDigitValue(char c);

// Converts the NUL-terminated text in place, pair by pair (first digit high);
// returns the number of bytes, the text length halved and rounded down.
std::size_t hexPairsToBytes(char* text);

// Converts the NUL-terminated hexadecimal text in place and deciphers the
// bytes block by block; returns their number. Without a cipher the bytes stay
// undeciphered.
std::size_t decipherCardData(char* text, const char* password, platform::Platform& os);

// Deciphers dataPath into a new profile file at profilePath. The profile file
// is created (empty) even when the data file cannot be read. 0 when both files
// were opened, -1 otherwise. With keepOpen the written profile file stays open
// there (nullptr when it could not be created), to be read back through it.
int decodeCardDataFile(const std::string& dataPath, const std::string& profilePath, const char* password,
                       platform::Platform& os, std::unique_ptr<platform::FileWriter>* keepOpen = nullptr);

// The inverse of decoding, for authoring data files: enciphers plain profile
// text block by block and writes it as upper-case hexadecimal pairs. Empty
// when the platform offers no cipher.
std::string encodeCardData(const std::string& plain, const char* password, platform::Platform& os);

}  // namespace zx::carddata
