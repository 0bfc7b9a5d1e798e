#include "driver_support.h"

#include <fcntl.h>
#include <unistd.h>

#if defined(_WIN32) && !defined(O_CLOEXEC)
#define O_CLOEXEC O_NOINHERIT  // the log descriptor stays out of child processes
#endif

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace zxsim {

std::string fmt(const char* format, ...) {
    char buffer[256];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return std::string(buffer, n < 0 ? 0 : std::min<std::size_t>(static_cast<std::size_t>(n), sizeof buffer - 1));
}

std::string hexByte(unsigned value) { return fmt("0x%02X", value & 0xFFu); }

void CallLog::openFileFrom(const char* variable, const char* who) {
    if (const char* path = std::getenv(variable); path != nullptr && *path != '\0') {
        fd_ = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (fd_ < 0) {
            std::fprintf(stderr, "%s: cannot open log file %s: %s\n", who, path, std::strerror(errno));
        }
    }
}

void CallLog::append(const std::string& line) {
    if (!logging_) {
        return;
    }
    if (lines_.size() >= kMaxLines) {
        lines_.pop_front();
    }
    lines_.push_back(line);
    if (fd_ >= 0) {
        const std::string out = line + "\n";
        const char* p = out.data();
        std::size_t left = out.size();
        while (left > 0) {
            const ssize_t n = ::write(fd_, p, left);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                break;
            }
            p += n;
            left -= static_cast<std::size_t>(n);
        }
    }
}

std::string environmentPath(const char* variable) {
    const char* path = std::getenv(variable);
    return path == nullptr ? std::string() : std::string(path);
}

std::optional<std::string> readTextFile(const std::string& path) {
    if (path.empty()) {
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void replaceFile(const std::string& path, const std::string& text, const char* who) {
    const std::string temp = path + ".tmp" + std::to_string(::getpid());
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << text;
        if (!out.flush()) {
            std::fprintf(stderr, "%s: cannot write state file %s\n", who, path.c_str());
            std::remove(temp.c_str());
            return;
        }
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        std::fprintf(stderr, "%s: cannot replace state file %s\n", who, path.c_str());
        std::remove(temp.c_str());
    }
}

std::string fileStamp(const std::string& path) {
    std::error_code ec;
    const auto time = std::filesystem::last_write_time(path, ec);
    const auto size = ec ? 0 : std::filesystem::file_size(path, ec);
    return ec ? std::string() : std::to_string(time.time_since_epoch().count()) + "/" + std::to_string(size);
}

}  // namespace zxsim
