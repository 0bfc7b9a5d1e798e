// Folders and files: the user's documents folder, the executable's folder,
// plain file operations, private files and private-profile reading.
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string_view>

#include "platform/common/ini_reader.h"
#include "platform/posix/posix_io.h"
#include "platform/posix/posix_platform.h"

namespace zx::platform::posix {

namespace {

// Profiles are small card data files; anything larger is not one.
constexpr std::size_t kMaxProfileSize = 16u << 20;

bool isDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

// The documents folder named by a user-dirs.dirs file, in the form that
// xdg-user-dirs writes: XDG_DOCUMENTS_DIR="$HOME/Documents" or an absolute
// path in quotes, '\' escaping the next character. The last such line counts.
bool documentsFromUserDirs(const std::string& file, const std::string& home, std::string& out) {
    std::vector<std::uint8_t> raw;
    if (!readRegularFile(file, 1u << 20, raw)) {
        return false;
    }
    constexpr std::string_view kName = "XDG_DOCUMENTS_DIR";
    const std::string_view text(reinterpret_cast<const char*>(raw.data()), raw.size());
    bool found = false;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;

        auto skipBlanks = [&line] {
            while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) {
                line.remove_prefix(1);
            }
        };
        skipBlanks();
        if (line.substr(0, kName.size()) != kName) {
            continue;
        }
        line.remove_prefix(kName.size());
        skipBlanks();
        if (line.empty() || line.front() != '=') {
            continue;
        }
        line.remove_prefix(1);
        skipBlanks();
        if (line.empty() || line.front() != '"') {
            continue;
        }
        line.remove_prefix(1);
        std::string path;
        if (line.substr(0, 5) == "$HOME") {
            line.remove_prefix(5);
            path = home;
        } else if (line.empty() || line.front() != '/') {
            continue;  // only $HOME-relative and absolute paths are valid
        }
        bool closed = false;
        while (!line.empty()) {
            char c = line.front();
            line.remove_prefix(1);
            if (c == '"') {
                closed = true;
                break;
            }
            if (c == '\\' && !line.empty()) {
                c = line.front();
                line.remove_prefix(1);
            }
            path += c;
        }
        if (closed && !path.empty()) {
            out = withoutTrailingSlashes(path);
            found = true;
        }
    }
    return found;
}

class FdWriter final : public FileWriter {
public:
    explicit FdWriter(int fd) : fd_(fd) {}
    ~FdWriter() override { ::close(fd_); }
    FdWriter(const FdWriter&) = delete;
    FdWriter& operator=(const FdWriter&) = delete;
    bool write(const void* data, std::size_t size) override { return writeAll(fd_, data, size); }

private:
    int fd_;
};

}  // namespace

bool homeFolder(std::string& out) {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0') {
        out = home;
        return true;
    }
    long bufSize = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buf(bufSize > 0 ? static_cast<std::size_t>(bufSize) : 16384);
    passwd pw {};
    passwd* result = nullptr;
    while (::getpwuid_r(::getuid(), &pw, buf.data(), buf.size(), &result) == ERANGE && buf.size() < (1u << 20)) {
        buf.resize(buf.size() * 2);
    }
    if (result == nullptr || result->pw_dir == nullptr || result->pw_dir[0] == '\0') {
        return false;
    }
    out = result->pw_dir;
    return true;
}

bool configFolder(std::string& out) {
    // The XDG rules ignore a relative XDG_CONFIG_HOME.
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && config[0] == '/') {
        out = withoutTrailingSlashes(config);
        return true;
    }
    std::string home;
    if (!homeFolder(home)) {
        return false;
    }
    out = withoutTrailingSlashes(home) + "/.config";
    return true;
}

bool createFolders(const std::string& path) {
    if (path.empty()) {
        return false;
    }
    for (std::size_t slash = path.find('/', 1); ; slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        // An existing folder may sit in a parent we cannot write; only a
        // missing one that cannot be made is a failure.
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST && !isDirectory(part)) {
            return false;
        }
        if (slash == std::string::npos) {
            break;
        }
    }
    return isDirectory(path);
}

bool documentsFolder(std::string& out) {
    std::string home;
    if (!homeFolder(home)) {
        return false;
    }
    home = withoutTrailingSlashes(home);
    std::string config;
    std::string docs;
    if (!configFolder(config) || !documentsFromUserDirs(config + "/user-dirs.dirs", home, docs)) {
        docs = home + "/Documents";
    }
    if (!createFolders(docs)) {
        return false;
    }
    out = docs;
    return true;
}

bool executableFolder(std::string& out) {
    std::vector<char> buf(4096);
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
        if (n < 0) {
            return false;
        }
        if (static_cast<std::size_t>(n) < buf.size()) {
            const std::string path(buf.data(), static_cast<std::size_t>(n));
            const std::size_t slash = path.rfind('/');
            if (slash == std::string::npos) {
                return false;
            }
            out = path.substr(0, slash + 1);
            return true;
        }
        buf.resize(buf.size() * 2);
    }
}

bool createFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) == 0) {
        return true;
    }
    return errno == EEXIST && isDirectory(path);
}

bool deleteFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool readFile(const std::string& path, std::size_t maxSize, std::vector<std::uint8_t>& out) {
    return readRegularFile(path, maxSize, out);
}

std::unique_ptr<FileWriter> createPrivateFile(const std::string& path) {
    // Whatever is at the path goes first, a link included (unlink never follows
    // one); O_EXCL|O_NOFOLLOW then refuses anything planted in between.
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        return nullptr;
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        return nullptr;
    }
    return std::make_unique<FdWriter>(fd);
}

std::uint32_t readProfileString(const std::string& file, const char* section, const char* key, char* buf,
                                std::uint32_t size) {
    std::vector<std::uint8_t> raw;
    if (!readRegularFile(file, kMaxProfileSize, raw)) {
        raw.clear();
    }
    const std::string_view text(reinterpret_cast<const char*>(raw.data()), raw.size());
    return ini::copyValue(text, section, key, buf, size);
}

}  // namespace zx::platform::posix
