#include "platform/common/ini_reader.h"

#include <cstring>

namespace zx::ini {

namespace {

// The blanks of the Windows profile reader: C white space plus Ctrl-Z, the old
// DOS end-of-file mark.
bool isBlank(char c) { return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x1A; }

std::string_view trim(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && isBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lowerAscii(a[i]) != lowerAscii(b[i])) {
            return false;
        }
    }
    return true;
}

std::string_view unquote(std::string_view v) {
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
        return v.substr(1, v.size() - 2);
    }
    return v;
}

// Splits off the next line; CR, LF and CRLF all end one.
std::string_view nextLine(std::string_view& rest) {
    const std::size_t end = rest.find_first_of("\r\n");
    if (end == std::string_view::npos) {
        const std::string_view line = rest;
        rest = {};
        return line;
    }
    const std::string_view line = rest.substr(0, end);
    std::size_t skip = 1;
    if (rest[end] == '\r' && end + 1 < rest.size() && rest[end + 1] == '\n') {
        skip = 2;
    }
    rest.remove_prefix(end + skip);
    return line;
}

}  // namespace

std::optional<std::string_view> findValue(std::string_view text, std::string_view section, std::string_view key) {
    constexpr std::string_view kBom = "\xEF\xBB\xBF";
    if (text.substr(0, kBom.size()) == kBom) {
        text.remove_prefix(kBom.size());
    }
    section = trim(section);
    key = trim(key);

    // Lines before the first header form the section "".
    bool inTarget = section.empty();
    bool targetSeen = inTarget;
    std::string_view rest = text;
    while (!rest.empty()) {
        const std::string_view line = trim(nextLine(rest));
        if (line.empty()) {
            continue;
        }
        if (line.front() == '[') {
            const std::size_t close = line.rfind(']');
            if (close != std::string_view::npos) {
                if (inTarget) {
                    return std::nullopt;  // only the first section of that name counts
                }
                if (!targetSeen && equalsIgnoreCase(trim(line.substr(1, close - 1)), section)) {
                    inTarget = true;
                    targetSeen = true;
                }
                continue;
            }
        }
        if (!inTarget) {
            continue;
        }
        const std::size_t eq = line.find('=');
        if (!equalsIgnoreCase(trim(line.substr(0, eq)), key)) {
            continue;
        }
        if (eq == std::string_view::npos) {
            return std::string_view{};
        }
        return unquote(trim(line.substr(eq + 1)));
    }
    return std::nullopt;
}

std::uint32_t copyValue(std::string_view text, const char* section, const char* key, char* buf,
                        std::uint32_t size) {
    if (size == 0) {
        return 0;
    }
    std::optional<std::string_view> value;
    if (section != nullptr && key != nullptr) {
        value = findValue(text, section, key);
    }
    std::size_t n = value ? value->size() : 0;
    if (n > size - 1) {
        n = size - 1;
    }
    if (n > 0) {
        std::memcpy(buf, value->data(), n);
    }
    buf[n] = '\0';
    return static_cast<std::uint32_t>(n);
}

}  // namespace zx::ini
