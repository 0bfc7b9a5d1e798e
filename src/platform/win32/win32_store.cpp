// The per-user store: the registry under HKEY_CURRENT_USER.
#include <windows.h>

#include <cstring>
#include <vector>

#include "platform/win32/win32_platform.h"

namespace zx::platform::win32 {

namespace {

// KEY_READ | KEY_WRITE, as the store keys are opened for reading and writing.
constexpr REGSAM kReadWrite = 0x2001F;

// An open key, closed when it goes.
class Key {
public:
    Key() = default;
    ~Key() {
        if (key_ != nullptr) {
            ::RegCloseKey(key_);
        }
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;

    // ERROR_SUCCESS, or the error.
    LONG open(const std::string& path, REGSAM access) {
        return ::RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, access, &key_);
    }
    // Opens the key, creating it and every key above it when missing.
    bool create(const std::string& path) {
        return ::RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, kReadWrite, nullptr, &key_,
                                 nullptr) == ERROR_SUCCESS;
    }
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

}  // namespace

bool Win32Platform::storeKeyExists(const std::string& keyPath) {
    Key key;
    return key.open(normaliseKeyPath(keyPath), KEY_READ) == ERROR_SUCCESS;
}

bool Win32Platform::storeCreateKey(const std::string& keyPath) {
    Key key;
    return key.create(normaliseKeyPath(keyPath));
}

StoreResult Win32Platform::storeQuery(const std::string& keyPath, const char* name, std::uint32_t* type,
                                      std::uint8_t* data, std::uint32_t* size) {
    if (data != nullptr && size == nullptr) {
        return StoreResult::Failed;
    }
    Key key;
    const LONG opened = key.open(normaliseKeyPath(keyPath), KEY_READ);
    if (opened != ERROR_SUCCESS) {
        return opened == ERROR_FILE_NOT_FOUND ? StoreResult::KeyNotFound : StoreResult::Failed;
    }
    const char* valueName = name != nullptr ? name : "";
    // The system may write into a buffer that turns out too small, so the
    // value is read into one of its own size and copied only when it fits.
    std::vector<std::uint8_t> value;
    DWORD valueType = 0;
    DWORD valueSize = 0;
    LONG rc = ::RegQueryValueExA(key.get(), valueName, nullptr, &valueType, nullptr, &valueSize);
    if (rc == ERROR_SUCCESS && data != nullptr) {
        rc = ERROR_MORE_DATA;
        // A value that grows in between is read again.
        for (int attempt = 0; rc == ERROR_MORE_DATA && attempt < 4; ++attempt) {
            value.resize(valueSize);
            rc = ::RegQueryValueExA(key.get(), valueName, nullptr, &valueType, value.data(), &valueSize);
        }
    }
    if (rc == ERROR_FILE_NOT_FOUND) {
        return StoreResult::ValueNotFound;
    }
    if (rc != ERROR_SUCCESS) {
        return StoreResult::Failed;
    }
    if (data != nullptr && *size < valueSize) {
        *size = valueSize;
        return StoreResult::BufferTooSmall;
    }
    if (data != nullptr && valueSize > 0) {
        std::memcpy(data, value.data(), valueSize);
    }
    if (type != nullptr) {
        *type = valueType;
    }
    if (size != nullptr) {
        *size = valueSize;
    }
    return StoreResult::Ok;
}

bool Win32Platform::storeSet(const std::string& keyPath, const char* name, std::uint32_t type,
                             const std::uint8_t* data, std::uint32_t size) {
    if (data == nullptr && size != 0) {
        return false;
    }
    Key key;
    return key.create(normaliseKeyPath(keyPath)) &&
           ::RegSetValueExA(key.get(), name != nullptr ? name : "", 0, type, data, size) == ERROR_SUCCESS;
}

}  // namespace zx::platform::win32
