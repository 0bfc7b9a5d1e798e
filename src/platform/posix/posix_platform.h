// The Linux Platform, declared once; its services are defined one group per
// source file of this folder. The free functions below are the pieces that the
// interface does not expose (path choices, folder checks), declared here so
// that the tests can reach them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace zx::platform::posix {

class PosixPlatform final : public Platform {
public:
    // posix_devices.cpp
    bool listDevices(std::vector<DeviceRecord>& out) override;
    unsigned osMajorVersion() override;

    // posix_files.cpp
    char pathSeparator() const override { return '/'; }
    bool documentsFolder(std::string& out) override;
    bool executableFolder(std::string& out) override;
    // $ZXDISPLAY_DATA_DIR, the executable's folder, then the XDG data
    // folders and the installation's (dataFolderSearch).
    void dataFolders(std::vector<std::string>& out) override;
    bool createFolder(const std::string& path) override;
    bool deleteFile(const std::string& path) override;
    bool readFile(const std::string& path, std::size_t maxSize, std::vector<std::uint8_t>& out) override;
    std::unique_ptr<FileWriter> createPrivateFile(const std::string& path) override;

    // posix_store.cpp
    bool storeKeyExists(const std::string& keyPath) override;
    bool storeCreateKey(const std::string& keyPath) override;
    StoreResult storeQuery(const std::string& keyPath, const char* name, std::uint32_t* type, std::uint8_t* data,
                           std::uint32_t* size) override;
    bool storeSet(const std::string& keyPath, const char* name, std::uint32_t type, const std::uint8_t* data,
                  std::uint32_t size) override;

    // posix_named_lock.cpp
    NamedLockResult takeNamedLock(const char* name) override;
    NamedLockState namedLockState(const char* name) override;
    bool releaseNamedLock(const char* name) override;

    // posix_crypto.cpp
    std::unique_ptr<BlockCipher> rc4FromPassword(const char* password) override;

    // posix_display.cpp: the DRM cards under $ZXDISPLAY_SYSFS_ROOT/class/drm
    // (default /sys), in card number order; a card is attached when one of its
    // connectors is connected.
    bool displayDevice(std::uint32_t index, DisplayDevice& out) override;
    NativeHandle createDeviceContext(const std::string& deviceName) override;
    void deleteDeviceContext(NativeHandle context) override;

    // posix_dynload.cpp
    NativeHandle loadLibrary(const char* name) override;
    void* findSymbol(NativeHandle library, const char* name) override;
    void freeLibrary(NativeHandle library) override;
};

// --- posix_devices.cpp ------------------------------------------------------
// Windows setup class name for a 24-bit PCI class code.
const char* setupClassName(std::uint32_t pciClass);

// --- posix_files.cpp --------------------------------------------------------
// The home folder: $HOME, else the password database; false when neither.
bool homeFolder(std::string& out);
// $XDG_CONFIG_HOME when set to an absolute path, else ~/.config.
bool configFolder(std::string& out);
// Creates path and its missing parents (mode 0700); true when path ends up
// being a directory.
bool createFolders(const std::string& path);

// Where card data files are looked for, in order, each ending in '/':
// $ZXDISPLAY_DATA_DIR; the executable's folder; $XDG_DATA_HOME/zxdisplaylib
// (default ~/.local/share); each of $XDG_DATA_DIRS/zxdisplaylib (default
// /usr/local/share:/usr/share); the installation's share/zxdisplaylib. env
// answers a variable (nullptr when unset); relative and empty values are
// skipped, as are empty folders; none appears twice.
struct DataFolderSources {
    std::function<const char*(const char*)> env;
    std::string executableFolder;
    std::string home;
    std::string installedDataFolder;
};
std::vector<std::string> dataFolderSearch(const DataFolderSources& sources);
// The installation's data folder: relative to this library's own file.
std::string installedDataFolder();

// --- posix_store.cpp --------------------------------------------------------
// Path of the store's database file.
bool storePath(std::string& out);

// --- posix_named_lock.cpp ---------------------------------------------------
// Test hook: an absolute folder that holds the named locks' files in place of
// /dev/shm, so that tests do not share the machine's lock.
inline constexpr const char* kLockFolderVariable = "ZXDISPLAY_LOCK_DIR";
// Tests only, with no other thread in the lock calls: closes every lock file
// (giving back any hold) so that the next use opens it anew.
void forgetNamedLocksForTesting();

}  // namespace zx::platform::posix
