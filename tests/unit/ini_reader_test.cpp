// The private-profile reader against GetPrivateProfileStringA's behaviour,
// one rule (or a few close ones) per test.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <string_view>

#include "platform/common/ini_reader.h"

namespace {

// The value as GetPrivateProfileStringA with a 260-character buffer returns it.
std::string get(std::string_view text, const char* section, const char* key) {
    char buf[260];
    std::memset(buf, 'X', sizeof buf);
    const std::uint32_t n = zx::ini::copyValue(text, section, key, buf, sizeof buf);
    EXPECT_EQ(n, std::strlen(buf)) << "returned length must match the copied text";
    return std::string(buf, n);
}

bool found(std::string_view text, std::string_view section, std::string_view key) {
    return zx::ini::findValue(text, section, key).has_value();
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
    EXPECT_EQ(zx::ini::findValue(text, "S", "bare")->size(), 0u);
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
    EXPECT_EQ(zx::ini::copyValue(text, "S", "k", buf, 4), 3u);
    EXPECT_STREQ(buf, "abc");
    EXPECT_EQ(buf[4], 'X') << "nothing written past size";

    std::memset(buf, 'X', sizeof buf);
    EXPECT_EQ(zx::ini::copyValue(text, "S", "k", buf, 7), 6u);
    EXPECT_STREQ(buf, "abcdef");

    std::memset(buf, 'X', sizeof buf);
    EXPECT_EQ(zx::ini::copyValue(text, "S", "k", buf, 1), 0u);
    EXPECT_EQ(buf[0], '\0');
    EXPECT_EQ(buf[1], 'X');
}

TEST(IniReaderBuffer, SizeZeroWritesNothing) {
    char buf[4] = {'X', 'X', 'X', 'X'};
    EXPECT_EQ(zx::ini::copyValue("[S]\nk=v\n", "S", "k", buf, 0), 0u);
    EXPECT_EQ(buf[0], 'X');
}

TEST(IniReaderBuffer, AbsentOrEmptyGivesEmptyText) {
    for (const char* text : {"", "[S]\n", "[S]\nother=1\n", "[T]\nk=1\n"}) {
        char buf[4] = {'X', 'X', 'X', 'X'};
        EXPECT_EQ(zx::ini::copyValue(text, "S", "k", buf, sizeof buf), 0u) << text;
        EXPECT_EQ(buf[0], '\0') << text;
    }
}

TEST(IniReaderBuffer, NullNamesReadAsAbsent) {
    char buf[4] = {'X', 'X', 'X', 'X'};
    EXPECT_EQ(zx::ini::copyValue("[S]\nk=v\n", nullptr, "k", buf, sizeof buf), 0u);
    EXPECT_EQ(buf[0], '\0');
    buf[0] = 'X';
    EXPECT_EQ(zx::ini::copyValue("[S]\nk=v\n", "S", nullptr, buf, sizeof buf), 0u);
    EXPECT_EQ(buf[0], '\0');
}

}  // namespace
