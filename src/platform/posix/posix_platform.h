// Linux services behind the Platform interface, one group per source file.
// Declared here so that the tests can reach the pieces that the interface
// does not expose (path choices, folder checks).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace zx::platform::posix {

// --- posix_devices.cpp ------------------------------------------------------
bool listDevices(std::vector<DeviceRecord>& out);
unsigned osMajorVersion();
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
bool documentsFolder(std::string& out);
bool executableFolder(std::string& out);
bool createFolder(const std::string& path);
bool deleteFile(const std::string& path);
bool readFile(const std::string& path, std::size_t maxSize, std::vector<std::uint8_t>& out);
std::unique_ptr<FileWriter> createPrivateFile(const std::string& path);

// --- posix_store.cpp --------------------------------------------------------
// Path of the store's database file.
bool storePath(std::string& out);
// "\A\\B\" -> "A\B": no leading, trailing or doubled backslashes.
std::string normaliseKeyPath(const std::string& keyPath);
bool storeKeyExists(const std::string& keyPath);
bool storeCreateKey(const std::string& keyPath);
StoreResult storeQuery(const std::string& keyPath, const char* name, std::uint32_t* type, std::uint8_t* data,
                       std::uint32_t* size);
bool storeSet(const std::string& keyPath, const char* name, std::uint32_t type, const std::uint8_t* data,
              std::uint32_t size);

// --- posix_named_lock.cpp ---------------------------------------------------
// Test hook: an absolute folder that holds the named locks' files in place of
// /dev/shm, so that tests do not share the machine's lock.
inline constexpr const char* kLockFolderVariable = "ZXDISPLAY_LOCK_DIR";
NamedLockResult takeNamedLock(const char* name);
NamedLockState namedLockState(const char* name);
bool releaseNamedLock(const char* name);
// Tests only, with no other thread in the lock calls: closes every lock file
// (giving back any hold) so that the next use opens it anew.
void forgetNamedLocksForTesting();

// --- posix_crypto.cpp -------------------------------------------------------
std::unique_ptr<BlockCipher> rc4FromPassword(const char* password);

// --- posix_display.cpp -----------------------------------------------------
// The DRM cards under $ZXDISPLAY_SYSFS_ROOT/class/drm (default /sys), in card
// number order; a card is attached when one of its connectors is connected.
bool displayDevice(std::uint32_t index, DisplayDevice& out);
NativeHandle createDeviceContext(const std::string& deviceName);
void deleteDeviceContext(NativeHandle context);

// --- posix_dynload.cpp ------------------------------------------------------
NativeHandle loadLibrary(const char* name);
void* findSymbol(NativeHandle library, const char* name);
void freeLibrary(NativeHandle library);

}  // namespace zx::platform::posix
