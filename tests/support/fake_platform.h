// An in-memory Platform for white-box tests (zx::platform::setPlatform),
// touching nothing on the machine. Without a cipher factory card data decodes
// to the hexadecimal text's own bytes, so hexOf(profileText) is a data file.
#pragma once

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

namespace zp = zx::platform;

// Symbols of one loadable fake library, by exact name.
struct FakeLibrary {
    std::map<std::string, void*> symbols;
};

class FakePlatform : public zp::Platform {
public:
    std::vector<zp::DeviceRecord> devices;  // in enumeration order
    bool deviceListFails = false;
    unsigned majorVersion = 6;
    // Adds a device; a missing class or location is reported as absent.
    void addDevice(std::string instanceId, std::optional<std::string> setupClass = std::string("Display"),
                   std::optional<std::string> location = std::nullopt);

    std::optional<std::string> documents = std::string("/home/tester/Documents");  // nullopt: fails
    std::map<std::string, std::vector<std::uint8_t>> files;                        // path -> contents
    bool writesFail = false;            // writes to created files fail
    std::size_t lastReadMaxSize = 0;
    void putFile(const std::string& path, std::string_view text) { files[path].assign(text.begin(), text.end()); }
    bool hasFile(const std::string& path) const { return files.count(path) != 0; }
    // Contents as text; empty when the file does not exist.
    std::string fileText(const std::string& path) const {
        const auto it = files.find(path);
        return it == files.end() ? std::string() : std::string(it->second.begin(), it->second.end());
    }

    bool storeFails = false;  // every store operation fails
    // Empty: no cipher.
    std::function<std::unique_ptr<zp::BlockCipher>(const char* password)> cipherFactory;
    std::vector<std::string> cipherPasswords;      // every rc4FromPassword call
    std::vector<zp::DisplayDevice> displays;       // by display-device index
    std::vector<std::string> deviceContexts;       // every createDeviceContext call
    std::map<std::string, FakeLibrary> libraries;  // loadable by exact name
    std::vector<std::string> loadAttempts;         // every loadLibrary call
    std::vector<std::string> dataFolderList = {"/opt/host/"};  // where card data files are looked for

    bool listDevices(std::vector<zp::DeviceRecord>& out) override {
        if (!deviceListFails) {
            out = devices;
        }
        return !deviceListFails;
    }
    unsigned osMajorVersion() override { return majorVersion; }
    char pathSeparator() const override { return '/'; }
    bool documentsFolder(std::string& out) override {
        out = documents.value_or("");
        return documents.has_value();
    }
    bool executableFolder(std::string& out) override {
        out = "/opt/host/";
        return true;
    }
    void dataFolders(std::vector<std::string>& out) override { out = dataFolderList; }
    bool createFolder(const std::string&) override { return true; }
    bool deleteFile(const std::string& path) override { return files.erase(path) != 0; }
    bool readFile(const std::string& path, std::size_t maxSize, std::vector<std::uint8_t>& out) override {
        lastReadMaxSize = maxSize;
        const auto it = files.find(path);
        if (it == files.end() || it->second.size() > maxSize) {
            return false;
        }
        out = it->second;
        return true;
    }
    std::unique_ptr<zp::FileWriter> createPrivateFile(const std::string& path) override;
    bool storeKeyExists(const std::string& keyPath) override;
    bool storeCreateKey(const std::string& keyPath) override;
    zp::StoreResult storeQuery(const std::string& keyPath, const char* name, std::uint32_t* type, std::uint8_t* data,
                               std::uint32_t* size) override;
    bool storeSet(const std::string& keyPath, const char* name, std::uint32_t type, const std::uint8_t* data,
                  std::uint32_t size) override;
    zp::NamedLockResult takeNamedLock(const char* name) override {
        return locks_.insert(name).second ? zp::NamedLockResult::Created : zp::NamedLockResult::AlreadyExists;
    }
    zp::NamedLockState namedLockState(const char* name) override {
        return locks_.count(name) != 0 ? zp::NamedLockState::HeldHere : zp::NamedLockState::Free;
    }
    bool releaseNamedLock(const char* name) override { return locks_.erase(name) != 0; }
    std::unique_ptr<zp::BlockCipher> rc4FromPassword(const char* password) override {
        cipherPasswords.emplace_back(password);
        return cipherFactory ? cipherFactory(password) : nullptr;
    }
    bool displayDevice(std::uint32_t index, zp::DisplayDevice& out) override {
        if (index >= displays.size()) {
            return false;
        }
        out = displays[index];
        return true;
    }
    zp::NativeHandle createDeviceContext(const std::string& deviceName) override {
        deviceContexts.push_back(deviceName);
        return 1;
    }
    void deleteDeviceContext(zp::NativeHandle) override {}
    zp::NativeHandle loadLibrary(const char* name) override {
        loadAttempts.emplace_back(name);
        if (libraries.count(name) == 0) {
            return 0;
        }
        openLibraries_[nextHandle_] = name;
        return nextHandle_++;
    }
    void* findSymbol(zp::NativeHandle library, const char* name) override;
    void freeLibrary(zp::NativeHandle library) override { openLibraries_.erase(library); }

private:
    struct StoreValue {
        std::uint32_t type;
        std::vector<std::uint8_t> data;
    };
    std::map<std::string, std::map<std::string, StoreValue>> store_;  // key path -> value name -> value, lower case
    std::set<std::string> locks_;                                     // held by this process
    zp::NativeHandle nextHandle_ = 0x100;
    std::map<zp::NativeHandle, std::string> openLibraries_;
};

// Upper-case hexadecimal text of bytes, as card data files hold them.
std::string hexOf(std::string_view bytes);

}  // namespace zxtest
