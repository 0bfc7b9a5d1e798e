#include "check.h"

#include <cctype>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string_view>

#include "core/ini_reader.h"

namespace zxcarddata {

namespace {

// Numeric keys either backend reads from a card's section.
const std::set<std::string> kNumericKeys = {
    "gpuvoltagemax", "gpuvoltagemin", "gpuvoltagestep", "memoryvoltagemax", "memoryvoltagemin",
    "memoryvoltagestep", "pwmclockmax", "pwmclockmin", "pwmclockstep", "dacsupported", "canset2das3dclock",
    "defaultgpuvoltage2d", "defaultgpuvoltage3d", "defaultmemoryvoltagelevel2d", "defaultmemoryvoltagelevel3d",
    "defaultpwmlevel", "gpuvoltagestart", "gpuvoltagecurrent",
};

constexpr std::size_t kMaxDescriptionLength = 39;  // a 40-byte slot with its NUL
constexpr unsigned kDescriptionSlots = 10;

struct Range {
    const char* min;
    const char* max;
    const char* step;
    std::vector<const char*> defaults;
};

const Range kRanges[] = {
    {"gpuvoltagemin", "gpuvoltagemax", "gpuvoltagestep",
     {"defaultgpuvoltage2d", "defaultgpuvoltage3d", "gpuvoltagestart", "gpuvoltagecurrent"}},
    {"memoryvoltagemin", "memoryvoltagemax", "memoryvoltagestep",
     {"defaultmemoryvoltagelevel2d", "defaultmemoryvoltagelevel3d"}},
    {"pwmclockmin", "pwmclockmax", "pwmclockstep", {"defaultpwmlevel"}},
};

std::string lower(std::string s) {
    for (char& c : s) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return s;
}

std::string trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t\r");
    const auto e = s.find_last_not_of(" \t\r");
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

bool isDecimal(const std::string& v) {
    if (v.empty() || v.size() > 10) {
        return false;
    }
    for (char c : v) {
        if (!std::isdigit(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    return std::stoull(v) <= 0xFFFFFFFFull;
}

bool isCardId(const std::string& s) {
    if (s.size() != 19) {
        return false;
    }
    for (std::size_t i = 0; i < s.size(); ++i) {
        const bool sep = i % 5 == 4;
        if (sep ? s[i] != '_' : !std::isxdigit(static_cast<unsigned char>(s[i]))) {
            return false;
        }
    }
    return true;
}

// "VGAInfoString<n>" with n written without leading zeros, 0 to 9.
std::optional<unsigned> descriptionIndex(const std::string& lowerKey) {
    const std::string prefix = "vgainfostring";
    if (lowerKey.size() != prefix.size() + 1 || lowerKey.compare(0, prefix.size(), prefix) != 0 ||
        !std::isdigit(static_cast<unsigned char>(lowerKey.back()))) {
        return std::nullopt;
    }
    return static_cast<unsigned>(lowerKey.back() - '0');
}

struct Entry {
    unsigned line;
    std::string key;  // as written
    std::string value;
};

class SectionChecker {
public:
    SectionChecker(std::string name, unsigned line, std::vector<Problem>& out)
        : name_(std::move(name)), line_(line), out_(out) {}

    void add(const Entry& e) {
        const std::string k = lower(e.key);
        if (const auto index = descriptionIndex(k)) {
            if (!e.value.empty()) {
                descriptions_[*index] = e.line;
            }
            if (e.value.size() > kMaxDescriptionLength) {
                report(e.line, e.key + " is longer than 39 characters (" + std::to_string(e.value.size()) +
                                   "); it is cut to fit");
            }
            return;
        }
        if (kNumericKeys.count(k) == 0) {
            report(e.line, "unknown key '" + e.key + "'");
            return;
        }
        if (!isDecimal(e.value)) {
            report(e.line, e.key + " = '" + e.value + "' is not a decimal number");
            return;
        }
        numbers_[k] = {std::stoul(e.value), e.line, e.key};
    }

    void finish() {
        if (!isCardId(name_)) {
            report(line_, "section name '" + name_ + "' is not a CardId (VVVV_DDDD_SSSS_BBBB, hexadecimal)");
        }
        // Descriptions are read from 0 up to the first one missing.
        for (unsigned i = 1; i < kDescriptionSlots; ++i) {
            if (descriptions_.count(i) != 0 && descriptions_.count(i - 1) == 0) {
                report(descriptions_[i], "gap in the description numbering: VGAInfoString" + std::to_string(i - 1) +
                                             " is missing, so VGAInfoString" + std::to_string(i) +
                                             " and later are not read");
                break;
            }
        }
        for (const Range& r : kRanges) {
            checkRange(r);
        }
    }

private:
    struct Number {
        std::uint64_t value;
        unsigned line;
        std::string key;
    };

    void checkRange(const Range& r) {
        const auto min = numbers_.find(r.min);
        const auto max = numbers_.find(r.max);
        if (min == numbers_.end() || max == numbers_.end()) {
            return;
        }
        if (min->second.value > max->second.value) {
            report(min->second.line, min->second.key + " " + std::to_string(min->second.value) +
                                         " is above " + max->second.key + " " +
                                         std::to_string(max->second.value));
            return;
        }
        if (const auto step = numbers_.find(r.step); step != numbers_.end() && step->second.value != 0 &&
                                                      (max->second.value - min->second.value) % step->second.value != 0) {
            report(step->second.line, "range " + std::to_string(min->second.value) + "-" +
                                          std::to_string(max->second.value) + " is not a whole number of " +
                                          step->second.key + " " + std::to_string(step->second.value));
        }
        for (const char* d : r.defaults) {
            const auto def = numbers_.find(d);
            if (def != numbers_.end() &&
                (def->second.value < min->second.value || def->second.value > max->second.value)) {
                report(def->second.line, def->second.key + " " + std::to_string(def->second.value) +
                                             " is outside its range " + std::to_string(min->second.value) + "-" +
                                             std::to_string(max->second.value));
            }
        }
    }

    void report(unsigned line, const std::string& message) { out_.push_back({line, name_, message}); }

    std::string name_;
    unsigned line_;
    std::vector<Problem>& out_;
    std::map<unsigned, unsigned> descriptions_;  // index -> line
    std::map<std::string, Number> numbers_;      // lower-case key
};

}  // namespace

const char* encodingName(Encoding e) {
    switch (e) {
    case Encoding::Utf8Mark: return "UTF-8 with byte-order mark";
    case Encoding::Utf16LeMark: return "UTF-16LE with byte-order mark";
    case Encoding::Utf16BeMark: return "UTF-16BE with byte-order mark (not read by the library)";
    case Encoding::Bytes: break;
    }
    return "bytes, no byte-order mark";
}

Encoding detectEncoding(const std::string& b) {
    if (b.size() >= 3 && b.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        return Encoding::Utf8Mark;
    }
    if (b.size() >= 2 && b.compare(0, 2, "\xFF\xFE") == 0) {
        return Encoding::Utf16LeMark;
    }
    if (b.size() >= 2 && b.compare(0, 2, "\xFE\xFF") == 0) {
        return Encoding::Utf16BeMark;
    }
    return Encoding::Bytes;
}

std::string profileText(const std::string& b, Encoding e) {
    if (e == Encoding::Utf8Mark) {
        return b.substr(3);
    }
    if (e != Encoding::Utf16LeMark) {
        return b;
    }
    // The library's own conversion, so that the check reads what it reads.
    return zx::ini::utf16LeToUtf8(std::string_view(b).substr(2));
}

std::vector<Problem> checkProfile(const std::string& text) {
    std::vector<Problem> problems;
    std::optional<SectionChecker> section;
    std::istringstream in(text);
    std::string raw;
    unsigned lineNo = 0;
    while (std::getline(in, raw)) {
        ++lineNo;
        // A NUL ends the line's text, as for the C string the reader sees.
        const std::string line = trim(raw.substr(0, raw.find('\0')));
        if (line.empty() || line[0] == ';' || line[0] == '#') {
            continue;
        }
        if (line[0] == '[') {
            if (section) {
                section->finish();
            }
            const auto close = line.find(']');
            section.emplace(trim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1)),
                            lineNo, problems);
            continue;
        }
        const auto eq = line.find('=');
        if (!section) {
            problems.push_back({lineNo, "", "line outside any section is not read"});
        } else if (eq == std::string::npos) {
            problems.push_back({lineNo, "", "not a Name=Value line"});
        } else {
            section->add({lineNo, trim(line.substr(0, eq)), trim(line.substr(eq + 1))});
        }
    }
    if (section) {
        section->finish();
    }
    return problems;
}

bool hasCardSection(const std::string& utf8Text) {
    std::istringstream in(utf8Text);
    std::string line;
    while (std::getline(in, line)) {
        const auto b = line.find_first_not_of(" \t");
        if (b != std::string::npos && line[b] == '[' && line.find(']', b) != std::string::npos) {
            return true;
        }
    }
    return false;
}

}  // namespace zxcarddata
