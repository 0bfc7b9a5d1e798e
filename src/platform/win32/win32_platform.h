// The Windows Platform, declared once; its services are defined one group per
// source file of this folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace zx::platform::win32 {

class Win32Platform final : public Platform {
public:
    // win32_devices.cpp: present devices of all setup classes (SetupAPI), each
    // with the Class and LocationInformation values of its device key under
    // HKEY_LOCAL_MACHINE "SYSTEM\CurrentControlSet\Enum\<instance ID>".
    bool listDevices(std::vector<DeviceRecord>& out) override;
    // dwMajorVersion of GetVersionExA; 0 when the call fails.
    unsigned osMajorVersion() override;

    // win32_files.cpp
    char pathSeparator() const override { return '\\'; }
    bool documentsFolder(std::string& out) override;
    bool executableFolder(std::string& out) override;
    // The executable's folder only: Windows programs keep their data beside
    // them.
    void dataFolders(std::vector<std::string>& out) override;
    bool createFolder(const std::string& path) override;
    bool deleteFile(const std::string& path) override;
    bool readFile(const std::string& path, std::size_t maxSize, std::vector<std::uint8_t>& out) override;
    std::unique_ptr<FileWriter> createPrivateFile(const std::string& path) override;

    // win32_store.cpp
    bool storeKeyExists(const std::string& keyPath) override;
    bool storeCreateKey(const std::string& keyPath) override;
    StoreResult storeQuery(const std::string& keyPath, const char* name, std::uint32_t* type, std::uint8_t* data,
                           std::uint32_t* size) override;
    bool storeSet(const std::string& keyPath, const char* name, std::uint32_t type, const std::uint8_t* data,
                  std::uint32_t size) override;

    // win32_named_lock.cpp
    NamedLockResult takeNamedLock(const char* name) override;
    NamedLockState namedLockState(const char* name) override;
    bool releaseNamedLock(const char* name) override;

    // win32_crypto.cpp
    std::unique_ptr<BlockCipher> rc4FromPassword(const char* password) override;

    // win32_display.cpp
    bool displayDevice(std::uint32_t index, DisplayDevice& out) override;
    NativeHandle createDeviceContext(const std::string& deviceName) override;
    void deleteDeviceContext(NativeHandle context) override;

    // win32_dynload.cpp
    NativeHandle loadLibrary(const char* name) override;
    void* findSymbol(NativeHandle library, const char* name) override;
    void freeLibrary(NativeHandle library) override;
};

}  // namespace zx::platform::win32
