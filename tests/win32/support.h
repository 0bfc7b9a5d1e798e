// Shared machinery of the Windows tests: scratch folders, files, child
// processes and a platform that replaces the device list only.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/win32/win32_platform.h"

namespace zxwin {

// The test program's folder, ending in '\': the simulator DLLs, the host and
// the card data files lie there.
inline std::string programFolder() {
    std::string folder;
    zx::platform::win32::executableFolder(folder);
    return folder;
}

// A new empty folder below the system's temporary folder, removed with all
// it holds when the object goes.
class ScratchFolder {
public:
    ScratchFolder() {
        static int counter = 0;
        char temp[MAX_PATH] = {};
        ::GetTempPathA(MAX_PATH, temp);
        path_ = std::string(temp) + "zxwin-" + std::to_string(::GetCurrentProcessId()) + "-" +
                std::to_string(++counter);
        std::filesystem::create_directories(path_);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::string& path() const { return path_; }  // no trailing '\'

private:
    std::string path_;
};

inline void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    ASSERT_TRUE(out.flush()) << path;
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool exists(const std::string& path) { return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// A program of the test folder run with arguments, its standard output read
// here; ended when the object goes.
class Child {
public:
    Child(const std::string& program, const std::string& arguments) {
        SECURITY_ATTRIBUTES inherit {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
        HANDLE childOut = nullptr;
        if (!::CreatePipe(&fromChild_, &childOut, &inherit, 0)) {
            ADD_FAILURE() << "CreatePipe failed";
            return;
        }
        ::SetHandleInformation(fromChild_, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOA startup {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = childOut;
        startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
        const std::string path = programFolder() + program;
        std::string commandLine = "\"" + path + "\" " + arguments;
        if (!::CreateProcessA(path.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                              &startup, &process_)) {
            ADD_FAILURE() << "cannot start " << path << ": error " << ::GetLastError();
        }
        ::CloseHandle(childOut);
    }
    ~Child() {
        if (process_.hProcess != nullptr) {
            if (::WaitForSingleObject(process_.hProcess, 0) != WAIT_OBJECT_0) {
                ::TerminateProcess(process_.hProcess, 9);  // ends without giving anything back
                ::WaitForSingleObject(process_.hProcess, 60000);
            }
            ::CloseHandle(process_.hProcess);
            ::CloseHandle(process_.hThread);
        }
        ::CloseHandle(fromChild_);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // The next line of its output without the line end; "" at its end.
    std::string readLine() {
        std::string line;
        char c = 0;
        DWORD got = 0;
        while (::ReadFile(fromChild_, &c, 1, &got, nullptr) && got == 1 && c != '\n') {
            if (c != '\r') {
                line += c;
            }
        }
        return line;
    }
    // Waits for its end; its exit code.
    DWORD wait() {
        DWORD code = 0xFFFFFFFF;
        EXPECT_TRUE(process_.hProcess != nullptr && ::WaitForSingleObject(process_.hProcess, 60000) == WAIT_OBJECT_0 &&
                    ::GetExitCodeProcess(process_.hProcess, &code))
            << "child did not end";
        return code;
    }

private:
    PROCESS_INFORMATION process_ {};
    HANDLE fromChild_ = nullptr;
};

// The system's platform with one substitution: Wine's device list has no PCI
// display adapters, so tests that need adapters supply the list themselves.
// Everything else (folders, registry, lock, crypto, display devices, library
// loading) is the real thing.
class DeviceListPlatform final : public zx::platform::Platform {
public:
    std::vector<zx::platform::DeviceRecord> devices;

    bool listDevices(std::vector<zx::platform::DeviceRecord>& out) override {
        out = devices;
        return true;
    }
    unsigned osMajorVersion() override { return os().osMajorVersion(); }
    char pathSeparator() const override { return '\\'; }
    bool documentsFolder(std::string& out) override { return os().documentsFolder(out); }
    bool executableFolder(std::string& out) override { return os().executableFolder(out); }
    bool createFolder(const std::string& path) override { return os().createFolder(path); }
    bool deleteFile(const std::string& path) override { return os().deleteFile(path); }
    bool readFile(const std::string& path, std::size_t maxSize, std::vector<std::uint8_t>& out) override {
        return os().readFile(path, maxSize, out);
    }
    std::unique_ptr<zx::platform::FileWriter> createPrivateFile(const std::string& path) override {
        return os().createPrivateFile(path);
    }
    bool storeKeyExists(const std::string& keyPath) override { return os().storeKeyExists(keyPath); }
    bool storeCreateKey(const std::string& keyPath) override { return os().storeCreateKey(keyPath); }
    zx::platform::StoreResult storeQuery(const std::string& keyPath, const char* name, std::uint32_t* type,
                                         std::uint8_t* data, std::uint32_t* size) override {
        return os().storeQuery(keyPath, name, type, data, size);
    }
    bool storeSet(const std::string& keyPath, const char* name, std::uint32_t type, const std::uint8_t* data,
                  std::uint32_t size) override {
        return os().storeSet(keyPath, name, type, data, size);
    }
    zx::platform::NamedLockResult takeNamedLock(const char* name) override { return os().takeNamedLock(name); }
    zx::platform::NamedLockState namedLockState(const char* name) override { return os().namedLockState(name); }
    bool releaseNamedLock(const char* name) override { return os().releaseNamedLock(name); }
    std::unique_ptr<zx::platform::BlockCipher> rc4FromPassword(const char* password) override {
        return os().rc4FromPassword(password);
    }
    bool displayDevice(std::uint32_t index, zx::platform::DisplayDevice& out) override {
        return os().displayDevice(index, out);
    }
    zx::platform::NativeHandle createDeviceContext(const std::string& deviceName) override {
        return os().createDeviceContext(deviceName);
    }
    void deleteDeviceContext(zx::platform::NativeHandle context) override { os().deleteDeviceContext(context); }
    zx::platform::NativeHandle loadLibrary(const char* name) override { return os().loadLibrary(name); }
    void* findSymbol(zx::platform::NativeHandle library, const char* name) override {
        return os().findSymbol(library, name);
    }
    void freeLibrary(zx::platform::NativeHandle library) override { os().freeLibrary(library); }

private:
    static zx::platform::Platform& os() { return zx::platform::native(); }
};

}  // namespace zxwin
