// An in-memory Platform for white-box tests: devices, files, the per-user
// store, named locks, cipher and vendor libraries are all plain data that a
// test sets up before the call and inspects after it. Nothing touches the
// machine. Install it with zx::platform::setPlatform(&fake) where the code
// under test uses platform::current(), or pass it directly.
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

    // --- Devices -------------------------------------------------------------
    std::vector<zx::platform::DeviceRecord> devices;  // in enumeration order
    bool deviceListFails = false;
    unsigned majorVersion = 6;
    int listDevicesCalls = 0;

    // Adds a device; a missing class or location is reported as absent.
    void addDevice(std::string instanceId, std::optional<std::string> setupClass = std::string("Display"),
                   std::optional<std::string> location = std::nullopt);

    // --- Folders and files -----------------------------------------------------
    char separator = '/';
    std::optional<std::string> documents = std::string("/home/tester/Documents");  // nullopt: fails
    std::optional<std::string> executable = std::string("/opt/host/");              // nullopt: fails
    std::map<std::string, std::vector<std::uint8_t>> files;  // path -> contents
    std::set<std::string> folders;                           // created (or pre-existing) folders
    std::set<std::string> unreadable;                        // readFile fails for these paths
    std::set<std::string> uncreatable;                       // createPrivateFile fails for these paths
    bool createFolderFails = false;
    bool writesFail = false;
    // When set, createPrivateFile fails unless the parent folder is in folders.
    bool requireParentFolder = false;

    std::vector<std::string> createdFolders;  // every createFolder call
    std::vector<std::string> deletedFiles;    // every deleteFile call, found or not
    std::vector<std::string> createdFiles;    // every successful createPrivateFile
    std::vector<std::string> readPaths;       // every readFile call
    std::size_t lastReadMaxSize = 0;

    void putFile(const std::string& path, std::string_view contents);
    bool hasFile(const std::string& path) const;
    // Contents as text; empty when the file does not exist.
    std::string fileText(const std::string& path) const;
    // A value of the profile file at path as the library's reader sees it.
    std::uint32_t readProfileString(const std::string& path, const char* section, const char* key, char* buf,
                                    std::uint32_t size) const;

    // --- Per-user store ------------------------------------------------------------
    struct StoreValue {
        std::uint32_t type = zx::platform::kRegSz;
        std::vector<std::uint8_t> data;
    };
    // Normalised key path (lower case, no trailing backslash) -> lower-case
    // value name -> value.
    std::map<std::string, std::map<std::string, StoreValue>> store;
    bool storeFails = false;  // every store operation fails

    // A string value with its terminator, as the registry keeps REG_SZ.
    void putStoreString(const std::string& keyPath, const std::string& name, const std::string& value);
    // The value's text up to its first NUL; nullopt when absent.
    std::optional<std::string> storeString(const std::string& keyPath, const std::string& name) const;
    static std::string normaliseKey(const std::string& keyPath);

    // --- Locks ------------------------------------------------------------------------
    std::map<std::string, zx::platform::NamedLockState> namedLocks;  // held locks -> by whom
    bool namedLockFails = false;

    // Another process holds the named lock.
    void holdNamedLockElsewhere(const std::string& name);

    // --- Cryptography ------------------------------------------------------------------
    CipherFactory cipherFactory;              // empty: no cipher
    std::vector<std::string> cipherPasswords;  // every rc4FromPassword call

    // --- Display devices -----------------------------------------------------------------
    std::vector<zx::platform::DisplayDevice> displays;  // by display-device index
    std::vector<std::string> deviceContexts;             // every createDeviceContext call

    // --- Dynamic loading ----------------------------------------------------------------
    std::map<std::string, FakeLibrary> libraries;  // loadable by exact name
    std::vector<std::string> loadAttempts;         // every loadLibrary call
    std::vector<std::string> symbolLookups;        // every findSymbol call
    int freedLibraries = 0;
    // Libraries loaded and not freed yet.
    std::size_t openLibraryCount() const { return openLibraries_.size(); }

    // --- Platform --------------------------------------------------------------------------
    bool listDevices(std::vector<zx::platform::DeviceRecord>& out) override;
    unsigned osMajorVersion() override { return majorVersion; }
    char pathSeparator() const override { return separator; }
    bool documentsFolder(std::string& out) override;
    bool executableFolder(std::string& out) override;
    bool createFolder(const std::string& path) override;
    bool deleteFile(const std::string& path) override;
    bool readFile(const std::string& path, std::size_t maxSize, std::vector<std::uint8_t>& out) override;
    std::unique_ptr<zx::platform::FileWriter> createPrivateFile(const std::string& path) override;
    bool storeKeyExists(const std::string& keyPath) override;
    bool storeCreateKey(const std::string& keyPath) override;
    zx::platform::StoreResult storeQuery(const std::string& keyPath, const char* name, std::uint32_t* type,
                                         std::uint8_t* data, std::uint32_t* size) override;
    bool storeSet(const std::string& keyPath, const char* name, std::uint32_t type, const std::uint8_t* data,
                  std::uint32_t size) override;
    zx::platform::NamedLockResult takeNamedLock(const char* name) override;
    zx::platform::NamedLockState namedLockState(const char* name) override;
    bool releaseNamedLock(const char* name) override;
    std::unique_ptr<zx::platform::BlockCipher> rc4FromPassword(const char* password) override;
    bool displayDevice(std::uint32_t index, zx::platform::DisplayDevice& out) override;
    zx::platform::NativeHandle createDeviceContext(const std::string& deviceName) override;
    void deleteDeviceContext(zx::platform::NativeHandle) override {}
    zx::platform::NativeHandle loadLibrary(const char* name) override;
    void* findSymbol(zx::platform::NativeHandle library, const char* name) override;
    void freeLibrary(zx::platform::NativeHandle library) override;

private:
    zx::platform::NativeHandle nextHandle_ = 0x100;
    std::map<zx::platform::NativeHandle, std::string> openLibraries_;
};

// Upper-case hexadecimal text of bytes, as card data files hold them.
std::string hexOf(std::string_view bytes);

}  // namespace zxtest
