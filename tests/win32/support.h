// Shared machinery of the Windows tests: scratch folders, files, child
// processes and a platform that replaces the device list only.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "platform/platform.h"

namespace zxwin {

// The folder of the test program, ending in '\': the test run's own copy,
// holding the simulator DLLs and the host, and where card data files go.
std::string programFolder();

// A new empty folder below the system's temporary folder, removed with all
// it holds when the object goes.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::string& path() const { return path_; }  // no trailing '\'

private:
    std::string path_;
};

void writeFile(const std::string& path, const std::string& bytes);
std::string readFile(const std::string& path);
bool exists(const std::string& path);

// A program of the test folder run with arguments, its standard input and
// output connected to this process.
class Child {
public:
    Child(const std::string& program, const std::string& arguments);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // The next line of its output without the line end; "" at its end.
    std::string readLine();
    void writeLine(const std::string& line);
    // Waits for its end; its exit code.
    DWORD wait();
    void kill();

private:
    PROCESS_INFORMATION process_ {};
    HANDLE toChild_ = nullptr;
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
