// Folders and files: the user's documents folder, the executable's folder,
// plain file operations and private files.
#include <dlfcn.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string_view>

#include "platform/posix/posix_io.h"
#include "platform/posix/posix_platform.h"

namespace zx::platform::posix {

namespace {

// How often an entry found at a private file's path is removed before the
// creation gives up: another process may be creating the same file just then.
constexpr int kCreateAttempts = 8;

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
    FdWriter(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    ~FdWriter() override { ::close(fd_); }
    FdWriter(const FdWriter&) = delete;
    FdWriter& operator=(const FdWriter&) = delete;
    bool write(const void* data, std::size_t size) override { return writeAll(fd_, data, size); }

    bool readBack(std::size_t maxSize, std::vector<std::uint8_t>& out) override {
        struct stat st {};
        if (::fstat(fd_, &st) != 0 || static_cast<std::uint64_t>(st.st_size) > maxSize) {
            return false;
        }
        std::vector<std::uint8_t> data(static_cast<std::size_t>(st.st_size));
        std::size_t used = 0;
        while (used < data.size()) {
            const ssize_t n = ::pread(fd_, data.data() + used, data.size() - used, static_cast<off_t>(used));
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                return false;
            }
            used += static_cast<std::size_t>(n);
        }
        out = std::move(data);
        return true;
    }

    bool remove() override {
        // There is no unlink by descriptor: the name is checked to lead to
        // this file first, so a file put in its place earlier stays (only one
        // renamed over it in the instant between check and unlink could go).
        struct stat mine {};
        struct stat there {};
        if (::fstat(fd_, &mine) != 0 || ::lstat(path_.c_str(), &there) != 0 || mine.st_dev != there.st_dev ||
            mine.st_ino != there.st_ino) {
            return false;
        }
        return ::unlink(path_.c_str()) == 0;
    }

private:
    int fd_;
    std::string path_;
};

}  // namespace

bool homeFolder(std::string& out) {
    // A relative HOME would name a folder below whatever the current folder
    // happens to be; like a relative XDG variable it is ignored.
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') {
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
    if (result == nullptr || result->pw_dir == nullptr || result->pw_dir[0] != '/') {
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

bool PosixPlatform::documentsFolder(std::string& out) {
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

bool PosixPlatform::executableFolder(std::string& out) {
    // The kernel writes this link's text into one page, so a path that fills
    // the buffer cannot be whole.
    char buf[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf);
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof buf) {
        return false;
    }
    const std::string path(buf, static_cast<std::size_t>(n));
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return false;
    }
    out = path.substr(0, slash + 1);
    return true;
}

bool PosixPlatform::createFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) == 0) {
        return true;
    }
    return errno == EEXIST && isDirectory(path);
}

bool PosixPlatform::deleteFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool PosixPlatform::readFile(const std::string& path, std::size_t maxSize, std::vector<std::uint8_t>& out) {
    return readRegularFile(path, maxSize, out);
}

std::unique_ptr<FileWriter> PosixPlatform::createPrivateFile(const std::string& path) {
    // Only a file this call creates is ever used: O_EXCL|O_NOFOLLOW refuses
    // whatever stands at the path, a link included. Such an entry is removed
    // (unlink never follows a link) and the creation tried again, a bounded
    // number of times, since another process may be doing the same.
    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0600);
        if (fd >= 0) {
            return std::make_unique<FdWriter>(fd, path);
        }
        if (errno != EEXIST || (::unlink(path.c_str()) != 0 && errno != ENOENT)) {
            return nullptr;
        }
    }
    return nullptr;
}

}  // namespace zx::platform::posix

namespace zx::platform::posix {

std::vector<std::string> dataFolderSearch(const DataFolderSources& sources) {
    std::vector<std::string> out;
    const auto add = [&out](std::string folder) {
        if (folder.empty() || folder[0] != '/') {
            return;
        }
        if (folder.back() != '/') {
            folder += '/';
        }
        if (std::find(out.begin(), out.end(), folder) == out.end()) {
            out.push_back(folder);
        }
    };
    const auto env = [&sources](const char* name) -> std::string {
        const char* v = sources.env ? sources.env(name) : nullptr;
        return v != nullptr ? std::string(v) : std::string();
    };
    add(env("ZXDISPLAY_DATA_DIR"));
    add(sources.executableFolder);
    const std::string dataHome = env("XDG_DATA_HOME");
    if (!dataHome.empty() && dataHome[0] == '/') {
        add(dataHome + "/zxdisplaylib");
    } else if (!sources.home.empty()) {
        add(sources.home + "/.local/share/zxdisplaylib");
    }
    std::string dirs = env("XDG_DATA_DIRS");
    if (dirs.empty()) {
        dirs = "/usr/local/share:/usr/share";
    }
    for (std::size_t start = 0; start <= dirs.size();) {
        const std::size_t colon = std::min(dirs.find(':', start), dirs.size());
        std::string dir = dirs.substr(start, colon - start);
        while (dir.size() > 1 && dir.back() == '/') {
            dir.pop_back();
        }
        if (!dir.empty() && dir[0] == '/') {
            add(dir + "/zxdisplaylib");
        }
        start = colon + 1;
    }
    add(sources.installedDataFolder);
    return out;
}

std::string installedDataFolder() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&installedDataFolder), &info) == 0 || info.dli_fname == nullptr) {
        return {};
    }
    const std::string file = info.dli_fname;
    const std::size_t slash = file.rfind('/');
    if (slash == std::string::npos) {
        return {};
    }
    return file.substr(0, slash + 1) + ZX_DATADIR_FROM_LIBDIR + "/zxdisplaylib";
}

void PosixPlatform::dataFolders(std::vector<std::string>& out) {
    DataFolderSources sources;
    sources.env = [](const char* name) { return static_cast<const char*>(std::getenv(name)); };
    executableFolder(sources.executableFolder);
    homeFolder(sources.home);
    sources.installedDataFolder = installedDataFolder();
    out = dataFolderSearch(sources);
}

}  // namespace zx::platform::posix
