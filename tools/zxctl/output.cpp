#include "output.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>

namespace zxctl {

namespace {

// Width in characters of UTF-8 text (continuation bytes do not count).
std::size_t width(const std::string& s) {
    return static_cast<std::size_t>(
        std::count_if(s.begin(), s.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

}  // namespace

bool colourEnabled() {
    static const bool enabled = [] {
        const char* noColour = std::getenv("NO_COLOR");
        return (noColour == nullptr || noColour[0] == '\0') && ::isatty(STDOUT_FILENO) == 1;
    }();
    return enabled;
}

std::string styled(const std::string& text, Style style) {
    if (!colourEnabled() || style == Style::Plain) {
        return text;
    }
    const char* code = style == Style::Heading ? "\033[1m" : style == Style::Muted ? "\033[2m" : "\033[31m";
    return code + text + "\033[0m";
}

void Table::header(std::vector<std::string> names) {
    std::vector<Cell> cells;
    for (auto& n : names) {
        cells.push_back({std::move(n), Style::Heading});
    }
    rows_.push_back(std::move(cells));
}

void Table::row(std::vector<Cell> cells) { rows_.push_back(std::move(cells)); }

std::string Table::render() const {
    std::vector<std::size_t> widths;
    for (const auto& r : rows_) {
        widths.resize(std::max(widths.size(), r.size()));
        for (std::size_t i = 0; i < r.size(); ++i) {
            widths[i] = std::max(widths[i], width(r[i].text));
        }
    }
    std::string out;
    for (const auto& r : rows_) {
        std::string line = indent_;
        for (std::size_t i = 0; i < r.size(); ++i) {
            line += styled(r[i].text, r[i].style);
            if (i + 1 < r.size()) {
                line += std::string(widths[i] - width(r[i].text) + 2, ' ');
            }
        }
        out += line + "\n";
    }
    return out;
}

}  // namespace zxctl
