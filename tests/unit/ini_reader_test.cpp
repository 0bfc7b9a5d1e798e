// The private-profile reader against GetPrivateProfileStringA's behaviour,
// one rule (or a few close ones) per test.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "platform/common/ini_reader.h"

namespace {

using zx::ini::Profile;

std::uint32_t copyValue(std::string_view text, const char* section, const char* key, char* buf,
                        std::uint32_t size) {
    return Profile(std::string(text)).readString(section, key, buf, size);
}

// The value as GetPrivateProfileStringA with a 260-character buffer returns it.
std::string get(std::string_view text, const char* section, const char* key) {
    char buf[260];
    std::memset(buf, 'X', sizeof buf);
    const std::uint32_t n = copyValue(text, section, key, buf, sizeof buf);
    EXPECT_EQ(n, std::strlen(buf)) << "returned length must match the copied text";
    return std::string(buf, n);
}

bool found(std::string_view text, std::string_view section, std::string_view key) {
    return Profile(std::string(text)).find(section, key).has_value();
}

TEST(IniReaderNames, SectionAndKeyIgnoreCase) {
    const std::string_view text = "[10DE_0611_A102_7A3C]\nGPUVoltageMax=1200\n";
    EXPECT_EQ(get(text, "10de_0611_a102_7a3c", "gpuvoltagemax"), "1200");
    EXPECT_EQ(get(text, "10DE_0611_A102_7A3C", "GPUVOLTAGEMAX"), "1200");
}

TEST(IniReaderNames, NamesAndValuesAreTrimmedOfAllBlanks) {
    // Tab, vertical tab, form feed, space and Ctrl-Z all count as blanks.
    const std::string_view text = "  [ \tCard\x1A ]  \n \t Key \x0B\x0C= \x1A value with  inner  blanks \t\x1A\n";
    EXPECT_EQ(get(text, "Card", "Key"), "value with  inner  blanks");
}

TEST(IniReaderNames, RequestedNamesAreTrimmedToo) {
    const std::string_view text = "[Card]\nKey=v\n";
    EXPECT_EQ(get(text, "  Card\t", " Key "), "v");
}

TEST(IniReaderSections, NameRunsToTheLastClosingBracket) {
    const std::string_view text = "[a]b] trailing\nk=1\n[ c ] ]\nk=2\n";
    EXPECT_EQ(get(text, "a]b", "k"), "1");
    EXPECT_EQ(get(text, "c ]", "k"), "2");
    EXPECT_FALSE(found(text, "a", "k"));
}

TEST(IniReaderSections, BracketLineWithoutCloseIsAKeyLine) {
    const std::string_view text = "[S]\n[notasection=v\nk=1\n";
    EXPECT_EQ(get(text, "S", "[notasection"), "v");
    EXPECT_EQ(get(text, "S", "k"), "1") << "the section must still be open after the line";
}

TEST(IniReaderSections, KeysBelongOnlyToTheirSection) {
    const std::string_view text = "[A]\nx=1\n[B]\ny=2\n";
    EXPECT_EQ(get(text, "A", "x"), "1");
    EXPECT_EQ(get(text, "B", "y"), "2");
    EXPECT_FALSE(found(text, "A", "y"));
    EXPECT_FALSE(found(text, "B", "x"));
    EXPECT_FALSE(found(text, "C", "x"));
}

TEST(IniReaderSections, OnlyTheFirstOfDuplicateSectionsIsSearched) {
    const std::string_view text = "[S]\na=1\n[Other]\n[s]\na=2\nb=3\n";
    EXPECT_EQ(get(text, "S", "a"), "1");
    EXPECT_FALSE(found(text, "S", "b"));
}

TEST(IniReaderSections, LinesBeforeTheFirstHeaderFormTheNamelessSection) {
    const std::string_view text = "top=1\n[S]\nin=2\n";
    EXPECT_EQ(get(text, "", "top"), "1");
    EXPECT_FALSE(found(text, "S", "top"));
    EXPECT_FALSE(found(text, "", "in"));
}

TEST(IniReaderKeys, OnlyTheFirstEqualsSignSplits) {
    EXPECT_EQ(get("[S]\nk = a=b = c\n", "S", "k"), "a=b = c");
}

TEST(IniReaderKeys, FirstOfDuplicateKeysWins) {
    const std::string_view text = "[S]\nk=first\nK=second\n";
    EXPECT_EQ(get(text, "S", "k"), "first");
}

TEST(IniReaderKeys, EmptyValueAndValuelessKeyGiveNothing) {
    const std::string_view text = "[S]\nempty=\nbare\nbare=later\n";
    EXPECT_EQ(get(text, "S", "empty"), "");
    ASSERT_TRUE(found(text, "S", "empty"));
    // A key without '=' is present, so it also hides a later duplicate.
    EXPECT_EQ(get(text, "S", "bare"), "");
    ASSERT_TRUE(found(text, "S", "bare"));
    EXPECT_EQ(Profile(std::string(text)).find("S", "bare")->size(), 0u);
}

TEST(IniReaderKeys, SemicolonAndHashLinesAreOrdinaryKeys) {
    const std::string_view text = "[S]\n;x=commented\n# y = hashed\n;plain\nk=1\n";
    EXPECT_EQ(get(text, "S", ";x"), "commented");
    EXPECT_EQ(get(text, "S", "# y"), "hashed");
    EXPECT_TRUE(found(text, "S", ";plain"));
    EXPECT_EQ(get(text, "S", "k"), "1");
}

TEST(IniReaderValues, OnePairOfMatchingQuotesIsStripped) {
    const std::string_view text =
        "[S]\n"
        "dq=\"quoted text\"\n"
        "sq='single'\n"
        "nested=\"'inner'\"\n"
        "double=\"\"twice\"\"\n"
        "blank=\"  spaced  \"\n"
        "empty=\"\"\n";
    EXPECT_EQ(get(text, "S", "dq"), "quoted text");
    EXPECT_EQ(get(text, "S", "sq"), "single");
    EXPECT_EQ(get(text, "S", "nested"), "'inner'");
    EXPECT_EQ(get(text, "S", "double"), "\"twice\"");
    EXPECT_EQ(get(text, "S", "blank"), "  spaced  ") << "blanks inside the quotes stay";
    EXPECT_EQ(get(text, "S", "empty"), "");
}

TEST(IniReaderValues, UnmatchedOrSingleQuotesStay) {
    const std::string_view text =
        "[S]\n"
        "mixed=\"text'\n"
        "open=\"text\n"
        "close=text\"\n"
        "one=\"\n"
        "inner=a\"b\"\n";
    EXPECT_EQ(get(text, "S", "mixed"), "\"text'");
    EXPECT_EQ(get(text, "S", "open"), "\"text");
    EXPECT_EQ(get(text, "S", "close"), "text\"");
    EXPECT_EQ(get(text, "S", "one"), "\"");
    EXPECT_EQ(get(text, "S", "inner"), "a\"b\"");
}

TEST(IniReaderLines, CrLfAndCrlfAllEndLines) {
    const std::string_view text = "[S]\r\na=1\rb=2\nc=3\r\n\r\nd=4";
    EXPECT_EQ(get(text, "S", "a"), "1");
    EXPECT_EQ(get(text, "S", "b"), "2");
    EXPECT_EQ(get(text, "S", "c"), "3");
    EXPECT_EQ(get(text, "S", "d"), "4") << "the last line needs no line end";
}

TEST(IniReaderLines, Utf8ByteOrderMarkIsSkipped) {
    EXPECT_EQ(get("\xEF\xBB\xBF[S]\nk=v\n", "S", "k"), "v");
    EXPECT_EQ(get("\xEF\xBB\xBFk=v\n", "", "k"), "v");
}

TEST(IniReaderBuffer, ValueIsCutToSizeMinusOneAndTerminated) {
    const std::string_view text = "[S]\nk=abcdef\n";
    char buf[8];
    std::memset(buf, 'X', sizeof buf);
    EXPECT_EQ(copyValue(text, "S", "k", buf, 4), 3u);
    EXPECT_STREQ(buf, "abc");
    EXPECT_EQ(buf[4], 'X') << "nothing written past size";

    std::memset(buf, 'X', sizeof buf);
    EXPECT_EQ(copyValue(text, "S", "k", buf, 7), 6u);
    EXPECT_STREQ(buf, "abcdef");

    std::memset(buf, 'X', sizeof buf);
    EXPECT_EQ(copyValue(text, "S", "k", buf, 1), 0u);
    EXPECT_EQ(buf[0], '\0');
    EXPECT_EQ(buf[1], 'X');
}

TEST(IniReaderBuffer, SizeZeroWritesNothing) {
    char buf[4] = {'X', 'X', 'X', 'X'};
    EXPECT_EQ(copyValue("[S]\nk=v\n", "S", "k", buf, 0), 0u);
    EXPECT_EQ(buf[0], 'X');
}

TEST(IniReaderBuffer, AbsentOrEmptyGivesEmptyText) {
    for (const char* text : {"", "[S]\n", "[S]\nother=1\n", "[T]\nk=1\n"}) {
        char buf[4] = {'X', 'X', 'X', 'X'};
        EXPECT_EQ(copyValue(text, "S", "k", buf, sizeof buf), 0u) << text;
        EXPECT_EQ(buf[0], '\0') << text;
    }
}

TEST(IniReaderBuffer, NullNamesReadAsAbsent) {
    char buf[4] = {'X', 'X', 'X', 'X'};
    EXPECT_EQ(copyValue("[S]\nk=v\n", nullptr, "k", buf, sizeof buf), 0u);
    EXPECT_EQ(buf[0], '\0');
    buf[0] = 'X';
    EXPECT_EQ(copyValue("[S]\nk=v\n", "S", nullptr, buf, sizeof buf), 0u);
    EXPECT_EQ(buf[0], '\0');
}

TEST(IniReaderNul, ANulEndsTheNameOrValueItStandsIn) {
    using namespace std::string_literals;
    struct Case {
        std::string text;
        const char* section;
        const char* key;
        std::optional<std::string> value;  // nullopt: absent
    };
    const Case cases[] = {
        // Padding after '=' is an empty value: it reads as nothing.
        {"[S]\nVGAInfoString1=\0\0\0\0\nnext=1\n"s, "S", "VGAInfoString1", ""},
        {"[S]\nk=ab\0cd\n"s, "S", "k", "ab"},
        {"[S]\nk= ab \0cd\n"s, "S", "k", "ab"},
        {"[S]\nk=\"ab\"\0\n"s, "S", "k", "ab"},
        {"[S]\nk\0junk=v\n"s, "S", "k", "v"},
        {"[S]\nk\0junk=v\n"s, "S", "kjunk", std::nullopt},
        {"[S]\nk\0=v\nk=later\n"s, "S", "k", "v"},
        {"[Card\0junk]\nk=v\n"s, "Card", "k", "v"},
        {"[Card\0junk]\nk=v\n"s, "Cardjunk", "k", std::nullopt},
        {"[S]\0\0\nk=v\n"s, "S", "k", "v"},
        {"\0[S]\nk=v\n"s, "S", "k", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.text));
        EXPECT_EQ(found(c.text, c.section, c.key), c.value.has_value());
        EXPECT_EQ(get(c.text, c.section, c.key), c.value.value_or(""));
    }
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

TEST(IniReaderUtf16, MarkedProfileReadsWithValuesInUtf8) {
    const std::string text = utf16le(u"[10DE_0622_B111_7A3C]\r\nGPUVoltageMax = 1150\r\nVGAInfoString0=Caf\u00E9\r\n"
                                     u"wide=\U0001F600 \u20AC\r\nlone=a\xD800z\xDC00\r\nnul=ab\0cd\r\n");
    EXPECT_EQ(Profile(text).encoding(), zx::ini::Encoding::Utf16Le);
    EXPECT_EQ(get(text, "10de_0622_b111_7a3c", "gpuvoltagemax"), "1150");
    EXPECT_EQ(get(text, "10DE_0622_B111_7A3C", "VGAInfoString0"), "Caf\xC3\xA9");
    EXPECT_EQ(get(text, "10DE_0622_B111_7A3C", "wide"), "\xF0\x9F\x98\x80 \xE2\x82\xAC");
    EXPECT_EQ(get(text, "10DE_0622_B111_7A3C", "lone"), "a?z?") << "a lone surrogate cannot be converted";
    EXPECT_EQ(get(text, "10DE_0622_B111_7A3C", "nul"), "ab");
    EXPECT_EQ(get(text + "x", "10DE_0622_B111_7A3C", "GPUVoltageMax"), "1150") << "an odd last byte is ignored";
}

TEST(IniReaderUtf16, WithoutTheLittleEndianMarkTheBytesAreTakenAsTheyAre) {
    const std::u16string_view profile = u"[S]\r\nk=1\r\n";
    EXPECT_FALSE(found(utf16le(profile, false), "S", "k"));
    EXPECT_EQ(Profile(utf16le(profile, false)).encoding(), zx::ini::Encoding::Bytes);
    std::string bigEndian = "\xFE\xFF";
    for (const char16_t u : profile) {
        bigEndian += static_cast<char>(u >> 8);
        bigEndian += static_cast<char>(u & 0xFF);
    }
    EXPECT_FALSE(found(bigEndian, "S", "k"));
}

}  // namespace
