// Checks of a plain card profile (the text inside a card data file) against
// what the backends read from it. Pure logic: text in, problems out.
#pragma once

#include <string>
#include <vector>

namespace zxcarddata {

enum class Encoding { Bytes, Utf8Mark, Utf16LeMark, Utf16BeMark };

const char* encodingName(Encoding e);

// The encoding a profile's first bytes announce.
Encoding detectEncoding(const std::string& bytes);

// The profile as UTF-8 text without its byte-order mark. UTF-16LE is
// converted; what cannot be converted becomes '?'. Other encodings are
// returned as they are, less a UTF-8 mark.
std::string profileText(const std::string& bytes, Encoding e);

struct Problem {
    unsigned line = 0;      // 1-based; 0 when it concerns the whole section
    std::string section;    // "" before the first section
    std::string message;
};

std::vector<Problem> checkProfile(const std::string& utf8Text);

// Whether the profile has a section at all ("[NAME]" on a line of its own):
// without one the library finds no card in it.
bool hasCardSection(const std::string& utf8Text);

}  // namespace zxcarddata
