#include "core/ini_reader.h"

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

// The C string a name or value is to the system's reader: up to its first NUL.
std::string_view cutAtNul(std::string_view s) {
    const std::size_t nul = s.find('\0');
    return nul == std::string_view::npos ? s : s.substr(0, nul);
}

std::string_view nameOf(std::string_view s) { return trim(cutAtNul(s)); }

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

// FNV-1a over the folded name: lookups compare one number per section and
// the names only where the numbers agree.
std::uint64_t nameHash(std::string_view name) {
    std::uint64_t h = 14695981039346656037ull;
    for (const char c : name) {
        h = (h ^ static_cast<unsigned char>(lowerAscii(c))) * 1099511628211ull;
    }
    return h;
}

std::string_view unquote(std::string_view v) {
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
        return v.substr(1, v.size() - 2);
    }
    return v;
}

// Walks the lines of a text once; CR, LF and CRLF each end one.
class LineScanner {
public:
    LineScanner(std::string_view text, std::size_t begin, std::size_t end) : text_(text), pos_(begin), end_(end) {}

    bool done() const { return pos_ >= end_; }
    std::size_t position() const { return pos_; }

    std::string_view next() {
        const char* p = text_.data();
        std::size_t i = pos_;
        while (i < end_ && p[i] != '\n' && p[i] != '\r') {
            ++i;
        }
        const std::string_view line(p + pos_, i - pos_);
        if (i < end_ && p[i] == '\r' && i + 1 < end_ && p[i + 1] == '\n') {
            ++i;
        }
        pos_ = i < end_ ? i + 1 : end_;
        return line;
    }

private:
    std::string_view text_;
    std::size_t pos_;
    std::size_t end_;
};

// The name of a section header line (already trimmed), or nullopt when the
// line is no header.
std::optional<std::string_view> headerName(std::string_view line) {
    if (line.empty() || line.front() != '[') {
        return std::nullopt;
    }
    const std::size_t close = line.rfind(']');
    if (close == std::string_view::npos) {
        return std::nullopt;
    }
    return line.substr(1, close - 1);
}

void appendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeMark = "\xFF\xFE";

}  // namespace

std::string utf16LeToUtf8(std::string_view bytes) {
    const std::size_t units = bytes.size() / 2;
    auto unit = [&bytes](std::size_t i) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[2 * i])) |
               (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[2 * i + 1])) << 8);
    };
    std::string out;
    out.reserve(units + units / 2);
    for (std::size_t i = 0; i < units; ++i) {
        const std::uint32_t u = unit(i);
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units && unit(i + 1) >= 0xDC00 && unit(i + 1) <= 0xDFFF) {
            appendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (unit(i + 1) - 0xDC00));
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            out += '?';
        } else {
            appendUtf8(out, u);
        }
    }
    return out;
}

Encoding detectEncoding(std::string_view bytes) {
    return bytes.substr(0, kUtf16LeMark.size()) == kUtf16LeMark ? Encoding::Utf16Le : Encoding::Bytes;
}

Profile::Profile(std::string bytes) : encoding_(detectEncoding(bytes)) {
    if (encoding_ == Encoding::Utf16Le) {
        text_ = utf16LeToUtf8(std::string_view(bytes).substr(kUtf16LeMark.size()));
    } else {
        text_ = std::move(bytes);
    }
    // Converted UTF-16 text keeps no mark of its own; a UTF-8 mark is skipped.
    std::size_t begin = 0;
    if (std::string_view(text_).substr(0, kUtf8Mark.size()) == kUtf8Mark) {
        begin = kUtf8Mark.size();
    }

    // One pass: every header and where its lines begin and end. Lookups then
    // scan only the lines of the one section they ask for.
    sections_.push_back(Section{nameHash(""), 0, 0, begin, text_.size()});
    LineScanner lines(text_, begin, text_.size());
    while (!lines.done()) {
        const std::size_t lineStart = lines.position();
        const std::string_view line = trim(lines.next());
        const auto raw = headerName(line);
        if (!raw) {
            continue;
        }
        sections_.back().bodyEnd = lineStart;
        const std::string_view name = nameOf(*raw);
        const std::size_t nameBegin = name.empty() ? 0 : static_cast<std::size_t>(name.data() - text_.data());
        sections_.push_back(Section{nameHash(name), nameBegin, name.size(), lines.position(), text_.size()});
    }
}

const Profile::Section* Profile::findSection(std::string_view name) const {
    if (sections_.empty()) {
        return nullptr;
    }
    // The lines before the first header are the section "", which no header
    // can name again.
    if (name.empty()) {
        return &sections_.front();
    }
    const std::uint64_t hash = nameHash(name);
    for (std::size_t i = 1; i < sections_.size(); ++i) {
        const Section& s = sections_[i];
        if (s.hash == hash && equalsIgnoreCase(std::string_view(text_).substr(s.nameBegin, s.nameSize), name)) {
            return &s;  // only the first section of that name counts
        }
    }
    return nullptr;
}

std::optional<std::string_view> Profile::find(std::string_view section, std::string_view key) const {
    const Section* s = findSection(nameOf(section));
    if (s == nullptr) {
        return std::nullopt;
    }
    key = nameOf(key);
    LineScanner lines(text_, s->bodyBegin, s->bodyEnd);
    while (!lines.done()) {
        const std::string_view line = trim(lines.next());
        if (line.empty()) {
            continue;
        }
        const std::size_t eq = line.find('=');
        if (!equalsIgnoreCase(nameOf(line.substr(0, eq)), key)) {
            continue;
        }
        if (eq == std::string_view::npos) {
            return std::string_view{};
        }
        return unquote(nameOf(line.substr(eq + 1)));
    }
    return std::nullopt;
}

std::uint32_t Profile::readString(const char* section, const char* key, char* buf, std::uint32_t size) const {
    if (size == 0) {
        return 0;
    }
    std::optional<std::string_view> value;
    if (section != nullptr && key != nullptr) {
        value = find(section, key);
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
