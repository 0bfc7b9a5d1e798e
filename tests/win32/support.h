// Shared machinery of the Windows tests: scratch folders, files, programs of
// the test folder and a platform that replaces the device list only.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
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
    zx::platform::native().executableFolder(folder);
    return folder;
}

// A folder of the test's own below the system's temporary folder, which lies
// in the run's Wine prefix and goes with it.
inline std::string scratchFolder(const char* name) {
    const std::filesystem::path path = std::filesystem::temp_directory_path() / name;
    std::filesystem::create_directories(path);
    return path.string();
}

inline void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    ASSERT_TRUE(out.flush()) << path;
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A program of the test folder started with arguments; its output is read
// through the returned stream, and _pclose waits for its end.
inline FILE* start(const std::string& program, const std::string& arguments) {
    const std::string command = std::string(1, '"').append(programFolder()).append(program + "\" " + arguments);
    FILE* out = ::_popen(command.c_str(), "rt");  // text mode: lines end in '\n'
    EXPECT_NE(out, nullptr) << program;
    return out;
}

// The system's platform with one substitution: Wine's device list has no PCI
// display adapters, so tests that need adapters supply the list themselves.
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
    void dataFolders(std::vector<std::string>& out) override { os().dataFolders(out); }
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
