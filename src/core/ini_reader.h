// Private-profile (INI) lookup with the behaviour of GetPrivateProfileStringA,
// on a profile parsed once in memory. Pure and OS-independent.
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
// - A NUL byte ends the name or value it stands in, as in the C strings of
//   the system's reader: the line's shape ('[' ... ']', the first '=') comes
//   from the whole line, then each name and value is cut at its first NUL and
//   trimmed. "k=" followed by NUL padding therefore reads as an empty value,
//   and "[Card\0junk]" names the section "Card".
// - A profile that starts with the UTF-16 little-endian byte-order mark
//   (FF FE) is UTF-16 text: it is converted to UTF-8 before parsing, so names
//   compare as above and values come back as UTF-8. A code unit that cannot be
//   converted (a lone surrogate) becomes '?'; an odd last byte is ignored.
//   Without that mark the bytes are taken as they are (a big-endian mark is
//   not honoured).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zx::ini {

enum class Encoding {
    Bytes,    // taken as they are (ASCII, UTF-8 or a code page)
    Utf16Le,  // UTF-16 little-endian, announced by its byte-order mark
};

// How a profile's bytes will be read.
Encoding detectEncoding(std::string_view bytes);

// UTF-16LE (mark already removed) to UTF-8. A surrogate without its partner
// has no character to become and turns into '?', as the system's conversion
// to a code page does with what it cannot convert.
std::string utf16LeToUtf8(std::string_view bytes);

class Profile {
public:
    // An empty profile: every lookup reads as absent.
    Profile() = default;
    // Parses the profile file's bytes once; later lookups never re-read them.
    explicit Profile(std::string bytes);

    Encoding encoding() const { return encoding_; }

    // The value of key in section, quotes stripped; nullopt when the section
    // or key is absent. A key without a value gives an empty value.
    std::optional<std::string_view> find(std::string_view section, std::string_view key) const;

    // GetPrivateProfileStringA with an empty default: copies the value into
    // buf, cut to size - 1 bytes and NUL-terminated, and returns the number of
    // bytes copied. Absent or empty values give 0 (buf[0] = 0). size 0 writes
    // nothing. A null section or key reads as absent (no name enumeration).
    std::uint32_t readString(const char* section, const char* key, char* buf, std::uint32_t size) const;

private:
    // A header's name and the lines below it, as offsets into text_ so that
    // copies and moves of the profile stay valid.
    struct Section {
        std::uint64_t hash = 0;  // of the name, ASCII letters folded
        std::size_t nameBegin = 0;
        std::size_t nameSize = 0;
        std::size_t bodyBegin = 0;
        std::size_t bodyEnd = 0;
    };

    const Section* findSection(std::string_view name) const;

    std::string text_;                // UTF-8 or the bytes as given, marks removed
    std::vector<Section> sections_;  // [0]: the lines before the first header
    Encoding encoding_ = Encoding::Bytes;
};

}  // namespace zx::ini
