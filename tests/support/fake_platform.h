// An in-memory Platform for white-box tests: devices, files, cipher, display
// devices and vendor libraries are plain data that a test sets up before the
// call and inspects after it. The store and the named lock are left to the
// real platform (in the test's own folders).
//
// Without a cipher factory rc4FromPassword returns nullptr, so card data
// decodes to the hexadecimal text's own bytes: a test can author a plain
// card data file with hexOf(profileText).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace zxtest {

// Symbols of one loadable fake library, by exact name.
struct FakeLibrary {
    std::map<std::string, void*> symbols;
};

class FakePlatform : public zx::platform::Platform {
public:
    using CipherFactory = std::function<std::unique_ptr<zx::platform::BlockCipher>(const char* password)>;

    // Devices, in enumeration order; a missing class or location is absent.
    std::vector<zx::platform::DeviceRecord> devices;
    bool deviceListFails = false;
    unsigned majorVersion = 6;
    void addDevice(std::string instanceId, std::optional<std::string> setupClass = std::string("Display"),
                   std::optional<std::string> location = std::nullopt);

    // Files: path -> contents.
    std::map<std::string, std::vector<std::uint8_t>> files;
    std::set<std::string> unreadable;   // readFile fails for these paths
    std::set<std::string> uncreatable;  // createPrivateFile fails for these paths
    std::size_t lastReadMaxSize = 0;
    void putFile(const std::string& path, std::string_view contents);
    bool hasFile(const std::string& path) const { return files.count(path) != 0; }
    std::string fileText(const std::string& path) const;  // empty when absent

    CipherFactory cipherFactory;               // empty: no cipher
    std::vector<std::string> cipherPasswords;  // every rc4FromPassword call

    std::vector<zx::platform::DisplayDevice> displays;  // by display-device index
    std::vector<std::string> deviceContexts;             // every createDeviceContext call

    std::map<std::string, FakeLibrary> libraries;  // loadable by exact name
    std::vector<std::string> loadAttempts;         // every loadLibrary call

    bool listDevices(std::vector<zx::platform::DeviceRecord>& out) override;
    unsigned osMajorVersion() override { return majorVersion; }
    char pathSeparator() const override { return '/'; }
    bool documentsFolder(std::string&) override { return false; }
    bool executableFolder(std::string&) override { return false; }
    bool createFolder(const std::string&) override { return true; }
    bool deleteFile(const std::string& path) override { return files.erase(path) != 0; }
    bool readFile(const std::string& path, std::size_t maxSize, std::vector<std::uint8_t>& out) override;
    std::unique_ptr<zx::platform::FileWriter> createPrivateFile(const std::string& path) override;
    bool storeKeyExists(const std::string&) override { return false; }
    bool storeCreateKey(const std::string&) override { return false; }
    zx::platform::StoreResult storeQuery(const std::string&, const char*, std::uint32_t*, std::uint8_t*,
                                         std::uint32_t*) override {
        return zx::platform::StoreResult::Failed;
    }
    bool storeSet(const std::string&, const char*, std::uint32_t, const std::uint8_t*, std::uint32_t) override {
        return false;
    }
    zx::platform::NamedLockResult takeNamedLock(const char*) override { return zx::platform::NamedLockResult::Failed; }
    zx::platform::NamedLockState namedLockState(const char*) override { return zx::platform::NamedLockState::Free; }
    bool releaseNamedLock(const char*) override { return false; }
    std::unique_ptr<zx::platform::BlockCipher> rc4FromPassword(const char* password) override;
    bool displayDevice(std::uint32_t index, zx::platform::DisplayDevice& out) override;
    zx::platform::NativeHandle createDeviceContext(const std::string& deviceName) override;
    void deleteDeviceContext(zx::platform::NativeHandle) override {}
    zx::platform::NativeHandle loadLibrary(const char* name) override;
    void* findSymbol(zx::platform::NativeHandle library, const char* name) override;
    void freeLibrary(zx::platform::NativeHandle library) override { openLibraries_.erase(library); }

private:
    zx::platform::NativeHandle nextHandle_ = 0x100;
    std::map<zx::platform::NativeHandle, std::string> openLibraries_;
};

// Upper-case hexadecimal text of bytes, as card data files hold them.
std::string hexOf(std::string_view bytes);

}  // namespace zxtest
