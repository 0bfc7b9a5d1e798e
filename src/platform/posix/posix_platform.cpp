// The Linux Platform: forwards every service to its group in this folder.
#include "platform/posix/posix_platform.h"

namespace zx::platform {
namespace {

class PosixPlatform final : public Platform {
public:
    bool listDevices(std::vector<DeviceRecord>& out) override { return posix::listDevices(out); }
    unsigned osMajorVersion() override { return posix::osMajorVersion(); }

    char pathSeparator() const override { return '/'; }
    bool documentsFolder(std::string& out) override { return posix::documentsFolder(out); }
    bool executableFolder(std::string& out) override { return posix::executableFolder(out); }
    bool createFolder(const std::string& path) override { return posix::createFolder(path); }
    bool deleteFile(const std::string& path) override { return posix::deleteFile(path); }
    bool readFile(const std::string& path, std::size_t maxSize, std::vector<std::uint8_t>& out) override {
        return posix::readFile(path, maxSize, out);
    }
    std::unique_ptr<FileWriter> createPrivateFile(const std::string& path) override {
        return posix::createPrivateFile(path);
    }

    bool storeKeyExists(const std::string& keyPath) override { return posix::storeKeyExists(keyPath); }
    bool storeCreateKey(const std::string& keyPath) override { return posix::storeCreateKey(keyPath); }
    StoreResult storeQuery(const std::string& keyPath, const char* name, std::uint32_t* type, std::uint8_t* data,
                           std::uint32_t* size) override {
        return posix::storeQuery(keyPath, name, type, data, size);
    }
    bool storeSet(const std::string& keyPath, const char* name, std::uint32_t type, const std::uint8_t* data,
                  std::uint32_t size) override {
        return posix::storeSet(keyPath, name, type, data, size);
    }

    NamedLockResult takeNamedLock(const char* name) override { return posix::takeNamedLock(name); }
    NamedLockState namedLockState(const char* name) override { return posix::namedLockState(name); }
    bool releaseNamedLock(const char* name) override { return posix::releaseNamedLock(name); }

    std::unique_ptr<BlockCipher> rc4FromPassword(const char* password) override {
        return posix::rc4FromPassword(password);
    }

    bool displayDevice(std::uint32_t index, DisplayDevice& out) override { return posix::displayDevice(index, out); }
    NativeHandle createDeviceContext(const std::string& deviceName) override {
        return posix::createDeviceContext(deviceName);
    }
    void deleteDeviceContext(NativeHandle context) override { posix::deleteDeviceContext(context); }

    NativeHandle loadLibrary(const char* name) override { return posix::loadLibrary(name); }
    void* findSymbol(NativeHandle library, const char* name) override { return posix::findSymbol(library, name); }
    void freeLibrary(NativeHandle library) override { posix::freeLibrary(library); }
};

}  // namespace

Platform& native() {
    static PosixPlatform instance;
    return instance;
}

}  // namespace zx::platform
