// The Linux Platform: forwards every service to its group in this folder;
// services not yet written report failure.
#include "platform/posix/posix_platform.h"

namespace zx::platform {
namespace {

class PosixPlatform final : public Platform {
public:
    bool listDevices(std::vector<DeviceRecord>& out) override { return posix::listDevices(out); }
    unsigned osMajorVersion() override { return posix::osMajorVersion(); }
    char pathSeparator() const override { return '/'; }
    bool documentsFolder(std::string&) override { return false; }
    bool executableFolder(std::string&) override { return false; }
    bool createFolder(const std::string&) override { return false; }
    bool deleteFile(const std::string&) override { return false; }
    bool readFile(const std::string&, std::size_t, std::vector<std::uint8_t>&) override { return false; }
    std::unique_ptr<FileWriter> createPrivateFile(const std::string&) override { return nullptr; }
    std::uint32_t readProfileString(const std::string&, const char*, const char*, char* buf,
                                    std::uint32_t size) override {
        if (size > 0) buf[0] = '\0';
        return 0;
    }
    bool storeKeyExists(const std::string&) override { return false; }
    bool storeCreateKey(const std::string&) override { return false; }
    StoreResult storeQuery(const std::string&, const char*, std::uint32_t*, std::uint8_t*, std::uint32_t*) override {
        return StoreResult::Failed;
    }
    bool storeSet(const std::string&, const char*, std::uint32_t, const std::uint8_t*, std::uint32_t) override {
        return false;
    }
    NamedLockResult createNamedLock(const char*, NativeHandle&) override { return NamedLockResult::Failed; }
    void releaseNamedLock(NativeHandle) override {}
    NativeHandle acquireStartupLock() override { return 0; }
    void releaseStartupLock(NativeHandle) override {}
    std::unique_ptr<BlockCipher> rc4FromPassword(const char*) override { return nullptr; }
    NativeHandle loadLibrary(const char*) override { return 0; }
    void* findSymbol(NativeHandle, const char*) override { return nullptr; }
    void freeLibrary(NativeHandle) override {}
};

}  // namespace

Platform& native() {
    static PosixPlatform instance;
    return instance;
}

}  // namespace zx::platform
