// Pieces every simulated driver's control surface uses: the call log (in
// memory and appended to a file), the files named by its environment, and
// the state file written between processes.
#pragma once

#include <cstddef>
#include <deque>
#include <optional>
#include <string>

namespace zxsim {

// printf into a string of at most 255 characters.
__attribute__((format(printf, 1, 2))) std::string fmt(const char* format, ...);

// "0x%02X" of the low byte.
std::string hexByte(unsigned value);

// The latest lines in memory, every line also appended at once to the file
// named by an environment variable (opened O_APPEND, shared by processes).
class CallLog {
public:
    static constexpr std::size_t kMaxLines = 65536;

    // Opens the file the variable names; who prefixes the complaint when it
    // cannot be opened.
    void openFileFrom(const char* variable, const char* who);
    void append(const std::string& line);
    std::size_t count() const { return lines_.size(); }
    std::optional<std::string> line(std::size_t i) const {
        return i < lines_.size() ? std::optional<std::string>(lines_[i]) : std::nullopt;
    }
    void clear() { lines_.clear(); }
    // Off: calls are no longer logged (benchmarks); on by default.
    void setLogging(bool on) { logging_ = on; }

private:
    std::deque<std::string> lines_;
    bool logging_ = true;
    int fd_ = -1;
};

// The value of an environment variable; empty when unset.
std::string environmentPath(const char* variable);

// A whole file's text; nothing when the path is empty or the file unreadable.
std::optional<std::string> readTextFile(const std::string& path);

// Replaces the file in one step: written to <path>.tmp<pid> and renamed over
// it, so a reader sees the old or the new text. who prefixes a complaint.
void replaceFile(const std::string& path, const std::string& text, const char* who);

// The file's modification time and size, "" when it is missing: tells
// whether another process replaced it.
std::string fileStamp(const std::string& path);

}  // namespace zxsim
