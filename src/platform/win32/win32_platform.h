// Windows services behind the Platform interface, one group per source file.
// Declared here so that the tests can reach the pieces that the interface
// does not expose.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace zx::platform::win32 {

// --- win32_devices.cpp ------------------------------------------------------
// Present devices of all setup classes (SetupAPI), each with the Class and
// LocationInformation values of its device key under HKEY_LOCAL_MACHINE
// "SYSTEM\CurrentControlSet\Enum\<instance ID>".
bool listDevices(std::vector<DeviceRecord>& out);
// dwMajorVersion of GetVersionExA; 0 when the call fails.
unsigned osMajorVersion();

// --- win32_files.cpp --------------------------------------------------------
bool documentsFolder(std::string& out);
bool executableFolder(std::string& out);
bool createFolder(const std::string& path);
bool deleteFile(const std::string& path);
bool readFile(const std::string& path, std::size_t maxSize, std::vector<std::uint8_t>& out);
std::unique_ptr<FileWriter> createPrivateFile(const std::string& path);

// --- win32_store.cpp --------------------------------------------------------
// "\A\\B\" -> "A\B": no leading, trailing or doubled backslashes.
std::string normaliseKeyPath(const std::string& keyPath);
bool storeKeyExists(const std::string& keyPath);
bool storeCreateKey(const std::string& keyPath);
StoreResult storeQuery(const std::string& keyPath, const char* name, std::uint32_t* type, std::uint8_t* data,
                       std::uint32_t* size);
bool storeSet(const std::string& keyPath, const char* name, std::uint32_t type, const std::uint8_t* data,
              std::uint32_t size);

// --- win32_named_lock.cpp ---------------------------------------------------
NamedLockResult takeNamedLock(const char* name);
NamedLockState namedLockState(const char* name);
bool releaseNamedLock(const char* name);

// --- win32_crypto.cpp -------------------------------------------------------
std::unique_ptr<BlockCipher> rc4FromPassword(const char* password);

// --- win32_display.cpp ------------------------------------------------------
bool displayDevice(std::uint32_t index, DisplayDevice& out);
NativeHandle createDeviceContext(const std::string& deviceName);
void deleteDeviceContext(NativeHandle context);

// --- win32_dynload.cpp ------------------------------------------------------
NativeHandle loadLibrary(const char* name);
void* findSymbol(NativeHandle library, const char* name);
void freeLibrary(NativeHandle library);

}  // namespace zx::platform::win32
