// Folders and files: the user's documents folder, the executable's folder,
// plain file operations and private files.
#include <windows.h>
#include <shlobj.h>

#include <vector>

#include "platform/win32/win32_platform.h"

namespace zx::platform::win32 {

namespace {

// How often an entry found at a private file's path is removed before the
// creation gives up: another process may be creating the same file just then,
// and a file it deleted while still open keeps its name until closed.
constexpr int kCreateAttempts = 8;

bool isDirectory(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool readAll(HANDLE file, std::uint64_t offset, std::uint8_t* data, std::size_t size) {
    std::size_t used = 0;
    while (used < size) {
        OVERLAPPED at {};
        const std::uint64_t position = offset + used;
        at.Offset = static_cast<DWORD>(position);
        at.OffsetHigh = static_cast<DWORD>(position >> 32);
        const std::size_t rest = size - used;
        DWORD got = 0;
        if (!::ReadFile(file, data + used, rest > 0x10000000u ? 0x10000000u : static_cast<DWORD>(rest), &got, &at) ||
            got == 0) {
            return false;
        }
        used += got;
    }
    return true;
}

// The whole file behind an open handle, at most maxSize bytes.
bool readHandle(HANDLE file, std::size_t maxSize, std::vector<std::uint8_t>& out) {
    LARGE_INTEGER size {};
    if (!::GetFileSizeEx(file, &size) || size.QuadPart < 0 ||
        static_cast<std::uint64_t>(size.QuadPart) > maxSize) {
        return false;
    }
    std::vector<std::uint8_t> data(static_cast<std::size_t>(size.QuadPart));
    if (!readAll(file, 0, data.data(), data.size())) {
        return false;
    }
    out = std::move(data);
    return true;
}

// Security that lets the current user alone reach the file, inheriting
// nothing from the folder.
class OwnerOnly {
public:
    OwnerOnly() {
        HANDLE token = nullptr;
        if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) {
            return;
        }
        DWORD needed = 0;
        ::GetTokenInformation(token, TokenUser, nullptr, 0, &needed);
        user_.resize(needed);
        const bool haveUser = needed > 0 && ::GetTokenInformation(token, TokenUser, user_.data(), needed, &needed);
        ::CloseHandle(token);
        if (!haveUser) {
            return;
        }
        PSID sid = reinterpret_cast<TOKEN_USER*>(user_.data())->User.Sid;
        acl_.resize(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + ::GetLengthSid(sid));
        auto* acl = reinterpret_cast<ACL*>(acl_.data());
        if (!::InitializeAcl(acl, static_cast<DWORD>(acl_.size()), ACL_REVISION) ||
            !::AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, sid) ||
            !::InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
            !::SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE) ||
            !::SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
            return;
        }
        attributes_.nLength = sizeof attributes_;
        attributes_.lpSecurityDescriptor = &descriptor_;
        attributes_.bInheritHandle = FALSE;
        ready_ = true;
    }
    OwnerOnly(const OwnerOnly&) = delete;
    OwnerOnly& operator=(const OwnerOnly&) = delete;

    SECURITY_ATTRIBUTES* attributes() { return ready_ ? &attributes_ : nullptr; }

private:
    std::vector<std::uint8_t> user_;
    std::vector<std::uint8_t> acl_;
    SECURITY_DESCRIPTOR descriptor_ {};
    SECURITY_ATTRIBUTES attributes_ {};
    bool ready_ = false;
};

class HandleWriter final : public FileWriter {
public:
    explicit HandleWriter(HANDLE file) : file_(file) {}
    ~HandleWriter() override { ::CloseHandle(file_); }
    HandleWriter(const HandleWriter&) = delete;
    HandleWriter& operator=(const HandleWriter&) = delete;

    bool write(const void* data, std::size_t size) override {
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        while (size > 0) {
            DWORD written = 0;
            const DWORD chunk = size > 0x10000000u ? 0x10000000u : static_cast<DWORD>(size);
            if (!::WriteFile(file_, bytes, chunk, &written, nullptr) || written == 0) {
                return false;
            }
            bytes += written;
            size -= written;
        }
        return true;
    }

    bool readBack(std::size_t maxSize, std::vector<std::uint8_t>& out) override {
        return readHandle(file_, maxSize, out);
    }

    bool remove() override {
        // Deleting through the handle removes this very file, wherever its
        // name now is; a file put at the path since stays. The name goes when
        // the handle is closed.
        FILE_DISPOSITION_INFO disposition {};
        disposition.DeleteFile = TRUE;
        return ::SetFileInformationByHandle(file_, FileDispositionInfo, &disposition, sizeof disposition) != 0;
    }

private:
    HANDLE file_;
};

}  // namespace

bool Win32Platform::documentsFolder(std::string& out) {
    char path[MAX_PATH] = {};
    if (!::SHGetSpecialFolderPathA(nullptr, path, CSIDL_PERSONAL, TRUE)) {
        return false;
    }
    std::string folder = path;
    while (folder.size() > 3 && (folder.back() == '\\' || folder.back() == '/')) {
        folder.pop_back();
    }
    if (folder.empty()) {
        return false;
    }
    out = folder;
    return true;
}

void Win32Platform::dataFolders(std::vector<std::string>& out) {
    out.clear();
    std::string folder;
    if (executableFolder(folder)) {
        out.push_back(folder);
    }
}

bool Win32Platform::executableFolder(std::string& out) {
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        const DWORD n = ::GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) {
            return false;
        }
        if (n < buffer.size()) {
            const std::string path(buffer.data(), n);
            const std::size_t separator = path.find_last_of("\\/");
            if (separator == std::string::npos) {
                return false;
            }
            out = path.substr(0, separator + 1);
            return true;
        }
        if (buffer.size() >= 32768) {
            return false;  // no Windows path is longer
        }
        buffer.resize(buffer.size() * 2);
    }
}

bool Win32Platform::createFolder(const std::string& path) {
    if (::CreateDirectoryA(path.c_str(), nullptr)) {
        return true;
    }
    return ::GetLastError() == ERROR_ALREADY_EXISTS && isDirectory(path);
}

bool Win32Platform::deleteFile(const std::string& path) { return ::DeleteFileA(path.c_str()) != 0; }

bool Win32Platform::readFile(const std::string& path, std::size_t maxSize, std::vector<std::uint8_t>& out) {
    const HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    // Only a disk file: a pipe or device opened by name could block or never end.
    const bool ok = ::GetFileType(file) == FILE_TYPE_DISK && readHandle(file, maxSize, out);
    ::CloseHandle(file);
    return ok;
}

std::unique_ptr<FileWriter> Win32Platform::createPrivateFile(const std::string& path) {
    // CREATE_NEW refuses whatever stands at the path, a link included, so
    // only a file this call creates is ever used. Such an entry is removed
    // (DeleteFileA removes a link, never its target) and the creation tried
    // again, a bounded number of times.
    OwnerOnly security;
    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
        const HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                                          FILE_SHARE_READ | FILE_SHARE_DELETE, security.attributes(), CREATE_NEW,
                                          FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            return std::make_unique<HandleWriter>(file);
        }
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) {
            if (!::DeleteFileA(path.c_str()) && ::GetLastError() != ERROR_FILE_NOT_FOUND &&
                ::GetLastError() != ERROR_ACCESS_DENIED) {
                return nullptr;
            }
        } else if (error != ERROR_ACCESS_DENIED) {
            return nullptr;
        }
        // A file deleted while another process still has it open keeps its
        // name (and refuses access) until that process closes it.
        ::Sleep(1);
    }
    return nullptr;
}

}  // namespace zx::platform::win32
