#include "scenario_text.h"

#include <sstream>

namespace zxsim {

std::optional<std::int64_t> parseNumber(const std::string& text, bool allowNegative) {
    std::size_t pos = 0;
    const bool negative = allowNegative && !text.empty() && text[0] == '-';
    pos += negative ? 1 : 0;
    int base = 10;
    if (text.size() - pos > 2 && text[pos] == '0' && (text[pos + 1] == 'x' || text[pos + 1] == 'X')) {
        base = 16;
        pos += 2;
    }
    if (pos >= text.size()) {
        return std::nullopt;
    }
    std::int64_t value = 0;
    for (; pos < text.size(); ++pos) {
        const char c = text[pos];
        int digit = -1;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        }
        if (digit < 0) {
            return std::nullopt;
        }
        value = value * base + digit;
        if (value > 0xFFFFFFFFll) {
            return std::nullopt;
        }
    }
    return negative ? -value : value;
}

Fields::Fields(std::string directive, const std::vector<std::string>& tokens) : directive_(std::move(directive)) {
    for (const std::string& token : tokens) {
        const std::size_t eq = token.find('=');
        if (eq == std::string::npos || eq == 0 || eq + 1 == token.size()) {
            throw LineError("expected key=value, got '" + token + "'");
        }
        const std::string key = token.substr(0, eq);
        if (!values_.emplace(key, token.substr(eq + 1)).second) {
            throw LineError("key '" + key + "' given twice");
        }
    }
}

std::optional<std::string> Fields::optionalText(const std::string& key) {
    allowed_.push_back(key);
    const auto it = values_.find(key);
    if (it == values_.end()) {
        return std::nullopt;
    }
    used_.insert(key);
    return it->second;
}

std::string Fields::text(const std::string& key) {
    std::optional<std::string> value = optionalText(key);
    if (!value) {
        throw LineError(directive_ + " needs " + key + "=");
    }
    return *value;
}

std::uint32_t Fields::u32(const std::string& key, std::uint32_t max) {
    const std::string value = text(key);
    const std::optional<std::int64_t> n = parseNumber(value, false);
    if (!n || *n > static_cast<std::int64_t>(max)) {
        throw LineError(key + "=" + value + " is not a number from 0 to " + std::to_string(max));
    }
    return static_cast<std::uint32_t>(*n);
}

std::optional<std::uint32_t> Fields::optionalU32(const std::string& key, std::uint32_t max) {
    if (!has(key)) {
        allowed_.push_back(key);
        return std::nullopt;
    }
    return u32(key, max);
}

std::optional<std::int32_t> Fields::i32(const std::string& key, std::int64_t min, std::int64_t max) {
    const std::optional<std::string> value = optionalText(key);
    if (!value) {
        return std::nullopt;
    }
    const std::optional<std::int64_t> n = parseNumber(*value, true);
    if (!n || *n < min || *n > max) {
        throw LineError(key + "=" + *value + " is not a number from " + std::to_string(min) + " to " +
                        std::to_string(max));
    }
    return static_cast<std::int32_t>(*n);
}

std::int32_t Fields::required(const std::string& key, std::int64_t min, std::int64_t max) {
    const std::optional<std::int32_t> value = i32(key, min, max);
    if (!value) {
        throw LineError(directive_ + " needs " + key + "=");
    }
    return *value;
}

std::int32_t Fields::status(const std::string& key) {
    const std::string value = text(key);
    const std::optional<std::int64_t> n = parseNumber(value, true);
    if (!n || *n < kI32Min || *n > kI32Max) {
        throw LineError(key + "=" + value + " is not a 32-bit signed number");
    }
    return static_cast<std::int32_t>(*n);
}

void Fields::finish() const {
    for (const auto& [key, value] : values_) {
        if (used_.count(key) == 0) {
            throw LineError("unknown key '" + key + "' (" + directive_ + " takes " + commaList(allowed_) + ")");
        }
    }
}

ParseError readScenarioLines(const std::string& text,
                             const std::function<void(const std::string& directive, Fields& fields)>& line) {
    std::istringstream in(text);
    unsigned number = 0;
    for (std::string raw; std::getline(in, raw);) {
        ++number;
        std::istringstream words(raw.substr(0, raw.find('#')));
        std::string directive;
        if (!(words >> directive)) {
            continue;
        }
        std::vector<std::string> tokens;
        for (std::string token; words >> token;) {
            tokens.push_back(token);
        }
        try {
            Fields fields(directive, tokens);
            line(directive, fields);
            fields.finish();
        } catch (const LineError& e) {
            return ParseError{number, e.what()};
        }
    }
    return ParseError{};
}

std::string commaList(const std::vector<std::string>& names) {
    std::string list;
    for (const std::string& name : names) {
        list += (list.empty() ? "" : ", ") + name;
    }
    return list;
}

}  // namespace zxsim
