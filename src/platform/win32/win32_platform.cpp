// The Windows Platform: forwards every service to its group in this folder.
#include "platform/win32/win32_platform.h"

namespace zx::platform {
namespace {

class Win32Platform final : public Platform {
public:
    bool listDevices(std::vector<DeviceRecord>& out) override { return win32::listDevices(out); }
    unsigned osMajorVersion() override { return win32::osMajorVersion(); }

    char pathSeparator() const override { return '\\'; }
    bool documentsFolder(std::string& out) override { return win32::documentsFolder(out); }
    bool executableFolder(std::string& out) override { return win32::executableFolder(out); }
    bool createFolder(const std::string& path) override { return win32::createFolder(path); }
    bool deleteFile(const std::string& path) override { return win32::deleteFile(path); }
    bool readFile(const std::string& path, std::size_t maxSize, std::vector<std::uint8_t>& out) override {
        return win32::readFile(path, maxSize, out);
    }
    std::unique_ptr<FileWriter> createPrivateFile(const std::string& path) override {
        return win32::createPrivateFile(path);
    }

    bool storeKeyExists(const std::string& keyPath) override { return win32::storeKeyExists(keyPath); }
    bool storeCreateKey(const std::string& keyPath) override { return win32::storeCreateKey(keyPath); }
    StoreResult storeQuery(const std::string& keyPath, const char* name, std::uint32_t* type, std::uint8_t* data,
                           std::uint32_t* size) override {
        return win32::storeQuery(keyPath, name, type, data, size);
    }
    bool storeSet(const std::string& keyPath, const char* name, std::uint32_t type, const std::uint8_t* data,
                  std::uint32_t size) override {
        return win32::storeSet(keyPath, name, type, data, size);
    }

    NamedLockResult takeNamedLock(const char* name) override { return win32::takeNamedLock(name); }
    NamedLockState namedLockState(const char* name) override { return win32::namedLockState(name); }
    bool releaseNamedLock(const char* name) override { return win32::releaseNamedLock(name); }

    std::unique_ptr<BlockCipher> rc4FromPassword(const char* password) override {
        return win32::rc4FromPassword(password);
    }

    bool displayDevice(std::uint32_t index, DisplayDevice& out) override { return win32::displayDevice(index, out); }
    NativeHandle createDeviceContext(const std::string& deviceName) override {
        return win32::createDeviceContext(deviceName);
    }
    void deleteDeviceContext(NativeHandle context) override { win32::deleteDeviceContext(context); }

    NativeHandle loadLibrary(const char* name) override { return win32::loadLibrary(name); }
    void* findSymbol(NativeHandle library, const char* name) override { return win32::findSymbol(library, name); }
    void freeLibrary(NativeHandle library) override { win32::freeLibrary(library); }
};

}  // namespace

Platform& native() {
    static Win32Platform instance;
    return instance;
}

}  // namespace zx::platform
