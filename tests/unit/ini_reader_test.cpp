// The private-profile reader against GetPrivateProfileStringA's behaviour.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "core/ini_reader.h"

namespace {

using namespace std::string_literals;
using zx::ini::Profile;

// The value as GetPrivateProfileStringA with a 260-character buffer returns it.
std::string get(std::string_view text, const char* section, const char* key) {
    char buf[260];
    std::memset(buf, 'X', sizeof buf);
    const std::uint32_t n = Profile(std::string(text)).readString(section, key, buf, sizeof buf);
    EXPECT_EQ(n, std::strlen(buf)) << "returned length must match the copied text";
    return std::string(buf, n);
}

bool found(std::string_view text, std::string_view section, std::string_view key) {
    return Profile(std::string(text)).find(section, key).has_value();
}

// The bytes of a UTF-16 little-endian profile, with or without its mark.
std::string utf16le(std::u16string_view text, bool mark = true) {
    std::string out = mark ? "\xFF\xFE" : "";
    for (const char16_t u : text) {
        out += static_cast<char>(u & 0xFF);
        out += static_cast<char>(u >> 8);
    }
    return out;
}

TEST(IniReader, ValuesAsTheSystemReadsThem) {
    struct Case {
        const char* what;
        std::string text;
        const char* section;
        const char* key;
        std::optional<std::string> value;  // nullopt: absent
    };
    const std::string blanks = "  [ \tCard\x1A ]  \n \t Key \x0B\x0C= \x1A value with  inner  blanks \t\x1A\n";
    const std::string quotes = "[S]\ndq=\"quoted text\"\nnested=\"'inner'\"\nmixed=\"text'\ninner=a\"b\"\n";
    const Case cases[] = {
        {"names ignore case", "[10DE_0611]\nGPUVoltageMax=1200\n", "10de_0611", "GPUVOLTAGEMAX", "1200"},
        {"tab, VT, FF, space and Ctrl-Z are blanks", blanks, "Card", "Key", "value with  inner  blanks"},
        {"requested names are trimmed", "[Card]\nKey=v\n", "  Card\t", " Key ", "v"},
        {"a section name runs to the last ]", "[a]b] trailing\nk=1\n[ c ] ]\nk=2\n", "a]b", "k", "1"},
        {"[ without ] is a key line", "[S]\n[notasection=v\nk=1\n", "S", "[notasection", "v"},
        {"keys belong to their section", "[A]\nx=1\n[B]\ny=2\n", "A", "y", std::nullopt},
        {"only the first duplicate section is searched", "[S]\na=1\n[Other]\n[s]\na=2\nb=3\n", "S", "b", std::nullopt},
        {"lines before a header: nameless section", "top=1\n[S]\nin=2\n", "", "top", "1"},
        {"the first = splits", "[S]\nk = a=b = c\n", "S", "k", "a=b = c"},
        {"an empty value is present", "[S]\nempty=\n", "S", "empty", ""},
        {"a key without = hides a later one", "[S]\nbare\nbare=later\n", "S", "bare", ""},
        {"; lines are keys", "[S]\n;x=commented\n", "S", ";x", "commented"},
        {"double quotes stripped", quotes, "S", "dq", "quoted text"},
        {"one pair only", quotes, "S", "nested", "'inner'"},
        {"mixed quotes stay", quotes, "S", "mixed", "\"text'"},
        {"inner quotes stay", quotes, "S", "inner", "a\"b\""},
        {"CR ends a line", "[S]\r\na=1\rb=2\n", "S", "b", "2"},
        {"the last line needs no end", "[S]\r\nc=3\r\n\r\nd=4", "S", "d", "4"},
        {"a UTF-8 mark is skipped", "\xEF\xBB\xBF[S]\nk=v\n", "S", "k", "v"},
        {"null section", "[S]\nk=v\n", nullptr, "k", std::nullopt},
        // A NUL ends the name or value it stands in.
        {"NUL padding is an empty value", "[S]\nVGAInfoString1=\0\0\0\0\nnext=1\n"s, "S", "VGAInfoString1", ""},
        {"NUL in a key", "[S]\nk\0junk=v\n"s, "S", "k", "v"},
        {"NUL in a section", "[Card\0junk]\nk=v\n"s, "Card", "k", "v"},
        {"NUL before a header", "\0[S]\nk=v\n"s, "S", "k", std::nullopt},
        // UTF-16LE needs its mark; values come back in UTF-8.
        {"UTF-16LE pairs", utf16le(u"[S]\r\nk=\U0001F600 \u20AC\r\n"), "S", "k", "\xF0\x9F\x98\x80 \xE2\x82\xAC"},
        {"lone surrogates become ?", utf16le(u"[S]\r\nk=a\xD800z\xDC00\r\n"), "S", "k", "a?z?"},
        {"a high surrogate at the end, a lone low one", utf16le(u"[S]\r\nk=\xDFFF\xDBFF"), "S", "k", "??"},
        {"a high surrogate before U+E000 pairs with nothing", utf16le(u"[S]\r\nk=\xDBFF\xE000"), "S", "k", "?\xEE\x80\x80"},
        {"each UTF-8 length at its bounds", utf16le(u"[S]\nk=\x7F\x80\x7FF\x800\xD7FF\xE000\xFFFF\xD800\xDC00\xDBFF\xDFFF"),
         "S", "k",
         "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"},
        {"UTF-16LE without its mark", utf16le(u"[S]\r\nk=1\r\n", false), "S", "k", std::nullopt},
        {"UTF-16BE", "\xFE\xFF\0[\0S\0]\0\n\0k\0=\0001\0\n"s, "S", "k", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.section != nullptr && c.key != nullptr) {
            EXPECT_EQ(found(c.text, c.section, c.key), c.value.has_value());
        }
        EXPECT_EQ(get(c.text, c.section, c.key), c.value.value_or(""));
    }
    // A value longer than the buffer is cut to fit with its NUL; no buffer, nothing written.
    const Profile p("[S]\nk=abcdef\n");
    for (const std::uint32_t size : {0u, 1u, 4u}) {
        char buf[4] = {'X', 'X', 'X', 'X'};
        EXPECT_EQ(p.readString("S", "k", buf, size), size == 0 ? 0 : size - 1);
        EXPECT_EQ(std::string(buf, 4), size == 0 ? "XXXX" : size == 1 ? "\0XXX"s : "abc\0"s) << size;
    }
    EXPECT_EQ(Profile(utf16le(u"[S]")).encoding(), zx::ini::Encoding::Utf16Le);
    EXPECT_EQ(Profile(utf16le(u"[S]", false)).encoding(), zx::ini::Encoding::Bytes);
}

// A high surrogate that ends the text never pairs with what lies past its end.
TEST(IniReader, TheTextEndsAtItsLastUnit) {
    const std::string pair("\x3D\xD8\x00\xDC", 4);
    EXPECT_EQ(zx::ini::utf16LeToUtf8(std::string_view(pair).substr(0, 2)), "?");
}

}  // namespace
