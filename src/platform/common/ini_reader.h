// Private-profile (INI) lookup with the behaviour of GetPrivateProfileStringA,
// on text already in memory. Pure and OS-independent.
//
// Rules:
// - Section and key names compare without regard to ASCII case.
// - Whitespace (0x09-0x0D, 0x20 and 0x1A) is trimmed around section names,
//   key names and values, in the file and in the names asked for.
// - A line whose first non-blank character is '[' and which holds a ']' names
//   a section: the text between the '[' and the last ']', trimmed. A '[' line
//   without ']' is an ordinary key line.
// - In a key line only the first '=' splits key from value.
// - A value of two or more characters that starts and ends with the same
//   quote, '"' or '\'', loses that one pair of quotes.
// - "key=" has the empty value; a line without '=' is a key without a value.
//   Both read as nothing (length 0).
// - ';' and '#' lines are not comments: a key literally named ";x" is found.
// - Lines before the first section header belong to the section named "".
// - Within a section the first of duplicate keys wins; of duplicate sections
//   only the first is searched.
// - Lines end with CR, LF or CRLF; a leading UTF-8 byte-order mark is skipped.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace zx::ini {

// The value of key in section, quotes stripped; nullopt when the section or
// key is absent. A key without a value gives an empty value.
std::optional<std::string_view> findValue(std::string_view text, std::string_view section, std::string_view key);

// GetPrivateProfileStringA with an empty default: copies the value into buf,
// cut to size - 1 characters and NUL-terminated, and returns the number of
// characters copied. Absent or empty values give 0 (buf[0] = 0). size 0 writes
// nothing. A null section or key reads as absent (no name enumeration).
std::uint32_t copyValue(std::string_view text, const char* section, const char* key, char* buf,
                        std::uint32_t size);

}  // namespace zx::ini
