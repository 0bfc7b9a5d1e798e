// The scenario text every simulated driver reads: one directive per line,
// then key=value fields; '#' starts a comment. Numbers are decimal or 0x
// hexadecimal within 32 bits. Unknown or repeated keys, bad numbers and
// missing required keys are errors of their line. Each driver keeps only its
// directives and what they build.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace zxsim {

struct ParseError {
    unsigned line = 0;  // 1-based; 0: no error
    std::string message;
};

// A bad line: thrown by a directive's reader, reported as its line's error.
struct LineError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Decimal or 0x hexadecimal, negative only when allowed; nothing when the
// text is no number or its magnitude needs more than 32 bits.
std::optional<std::int64_t> parseNumber(const std::string& text, bool allowNegative);

// The key=value fields of one line. Every key given must be asked for by the
// directive (finish() reports the others, with the keys the directive takes).
class Fields {
public:
    static constexpr std::int64_t kI32Min = std::numeric_limits<std::int32_t>::min();
    static constexpr std::int64_t kI32Max = std::numeric_limits<std::int32_t>::max();

    Fields(std::string directive, const std::vector<std::string>& tokens);

    bool has(const std::string& key) const { return values_.count(key) != 0; }

    std::optional<std::string> optionalText(const std::string& key);
    std::string text(const std::string& key);  // required

    // Unsigned, 0 to max.
    std::uint32_t u32(const std::string& key, std::uint32_t max = 0xFFFFFFFFu);
    std::optional<std::uint32_t> optionalU32(const std::string& key, std::uint32_t max = 0xFFFFFFFFu);
    std::uint32_t u32Or(const std::string& key, std::uint32_t fallback, std::uint32_t max = 0xFFFFFFFFu) {
        return optionalU32(key, max).value_or(fallback);
    }

    // Signed, min to max.
    std::optional<std::int32_t> i32(const std::string& key, std::int64_t min = kI32Min, std::int64_t max = kI32Max);
    std::int32_t required(const std::string& key, std::int64_t min = kI32Min, std::int64_t max = kI32Max);

    // A driver status: any signed 32-bit number.
    std::int32_t status(const std::string& key);

    void finish() const;

private:
    std::string directive_;
    std::map<std::string, std::string> values_;
    std::vector<std::string> allowed_;
    std::set<std::string> used_;
};

// Reads every line, handing each directive and its fields to line(); stops
// at the first bad line.
ParseError readScenarioLines(const std::string& text,
                             const std::function<void(const std::string& directive, Fields& fields)>& line);

// "a, b, c".
std::string commaList(const std::vector<std::string>& names);

// The entry of a driver's operation table named by the op= field.
template <class Info, std::size_t N>
const Info& opField(Fields& f, const Info (&ops)[N]) {
    const std::string name = f.text("op");
    std::vector<std::string> names;
    for (const Info& info : ops) {
        if (name == info.name) {
            return info;
        }
        names.push_back(info.name);
    }
    throw LineError("unknown op '" + name + "' (one of " + commaList(names) + ")");
}

// Reads text into a copy of start and hands the copy to target only when
// every line was good, so a bad line changes nothing.
template <class Scenario, class Read>
ParseError readAllOrNothing(const std::string& text, Scenario& target, Scenario start, Read read) {
    const ParseError error = read(text, start);
    if (error.line == 0) {
        target = std::move(start);
    }
    return error;
}

// The calls a fault lets through and the calls it fails after them.
struct FaultWindow {
    std::uint32_t after = 0;  // calls answered normally first
    std::uint32_t times = 0;  // failing calls then; 0: no limit
    std::uint32_t calls = 0;  // matching calls so far

    // Counts one matching call; true when the fault answers it.
    bool countCall() {
        if (calls < 0xFFFFFFFFu) {
            ++calls;
        }
        return calls > after && (times == 0 || calls - after <= times);
    }
};

// What ends a call before the operation proper: every fault that matches the
// call counts it, and the first one active in scenario order answers with its
// status; without one, a failed argument check (any status but ok) answers.
template <class Fault, class Matches>
std::optional<std::int32_t> refusal(std::vector<Fault>& faults, Matches matches, std::int32_t check,
                                    std::int32_t ok) {
    std::optional<std::int32_t> answer;
    for (Fault& f : faults) {
        if (matches(f) && f.countCall() && !answer) {
            answer = f.status;
        }
    }
    if (!answer && check != ok) {
        answer = check;
    }
    return answer;
}

}  // namespace zxsim
