#include "support/fake_platform.h"

#include <algorithm>
#include <cstring>

#include "platform/common/ini_reader.h"

namespace zxtest {

namespace zp = zx::platform;

namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string lowered(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), lower);
    return out;
}

// Like the registry, creating a key creates the keys above it.
template <typename Store>
void createKeyWithParents(Store& store, const std::string& key) {
    for (std::size_t at = key.find('\\'); at != std::string::npos; at = key.find('\\', at + 1)) {
        store[key.substr(0, at)];
    }
    store[key];
}

class FakeWriter final : public zp::FileWriter {
public:
    FakeWriter(FakePlatform& os, std::string path) : os_(os), path_(std::move(path)) {}
    bool write(const void* data, std::size_t size) override {
        if (os_.writesFail) {
            return false;
        }
        auto& contents = os_.files[path_];
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        contents.insert(contents.end(), bytes, bytes + size);
        return true;
    }
    bool readBack(std::size_t maxSize, std::vector<std::uint8_t>& out) override {
        const auto it = os_.files.find(path_);
        if (it == os_.files.end() || it->second.size() > maxSize) {
            return false;
        }
        out = it->second;
        return true;
    }
    bool remove() override { return os_.deleteFile(path_); }

private:
    FakePlatform& os_;
    std::string path_;
};

}  // namespace

void FakePlatform::addDevice(std::string instanceId, std::optional<std::string> setupClass,
                             std::optional<std::string> location) {
    zp::DeviceRecord record;
    record.instanceId = std::move(instanceId);
    record.hasClass = setupClass.has_value();
    record.setupClass = setupClass.value_or("");
    record.hasLocation = location.has_value();
    record.location = location.value_or("");
    devices.push_back(std::move(record));
}

bool FakePlatform::listDevices(std::vector<zp::DeviceRecord>& out) {
    ++listDevicesCalls;
    if (deviceListFails) {
        return false;
    }
    out = devices;
    return true;
}

bool FakePlatform::documentsFolder(std::string& out) {
    if (!documents) {
        return false;
    }
    out = *documents;
    return true;
}

bool FakePlatform::executableFolder(std::string& out) {
    if (!executable) {
        return false;
    }
    out = *executable;
    return true;
}

bool FakePlatform::createFolder(const std::string& path) {
    createdFolders.push_back(path);
    if (createFolderFails) {
        return false;
    }
    folders.insert(path);
    return true;
}

bool FakePlatform::deleteFile(const std::string& path) {
    deletedFiles.push_back(path);
    return files.erase(path) != 0;
}

bool FakePlatform::readFile(const std::string& path, std::size_t maxSize, std::vector<std::uint8_t>& out) {
    readPaths.push_back(path);
    lastReadMaxSize = maxSize;
    const auto it = files.find(path);
    if (it == files.end() || unreadable.count(path) != 0 || it->second.size() > maxSize) {
        return false;
    }
    out = it->second;
    return true;
}

std::unique_ptr<zp::FileWriter> FakePlatform::createPrivateFile(const std::string& path) {
    if (uncreatable.count(path) != 0) {
        return nullptr;
    }
    if (requireParentFolder) {
        const auto sep = path.rfind(separator);
        if (sep == std::string::npos || folders.count(path.substr(0, sep)) == 0) {
            return nullptr;
        }
    }
    files[path].clear();
    createdFiles.push_back(path);
    return std::make_unique<FakeWriter>(*this, path);
}

void FakePlatform::putFile(const std::string& path, std::string_view contents) {
    files[path].assign(contents.begin(), contents.end());
}

bool FakePlatform::hasFile(const std::string& path) const { return files.count(path) != 0; }

std::string FakePlatform::fileText(const std::string& path) const {
    const auto it = files.find(path);
    return it == files.end() ? std::string() : std::string(it->second.begin(), it->second.end());
}

std::uint32_t FakePlatform::readProfileString(const std::string& path, const char* section, const char* key,
                                              char* buf, std::uint32_t size) const {
    const zx::ini::Profile profile(fileText(path));
    return profile.readString(section, key, buf, size);
}

std::string FakePlatform::normaliseKey(const std::string& keyPath) {
    std::string key = lowered(keyPath);
    while (!key.empty() && key.back() == '\\') {
        key.pop_back();
    }
    return key;
}

bool FakePlatform::storeKeyExists(const std::string& keyPath) {
    return !storeFails && store.count(normaliseKey(keyPath)) != 0;
}

bool FakePlatform::storeCreateKey(const std::string& keyPath) {
    if (storeFails) {
        return false;
    }
    createKeyWithParents(store, normaliseKey(keyPath));
    return true;
}

zp::StoreResult FakePlatform::storeQuery(const std::string& keyPath, const char* name, std::uint32_t* type,
                                         std::uint8_t* data, std::uint32_t* size) {
    if (storeFails) {
        return zp::StoreResult::Failed;
    }
    const auto key = store.find(normaliseKey(keyPath));
    if (key == store.end()) {
        return zp::StoreResult::KeyNotFound;
    }
    const auto value = key->second.find(lowered(name));
    if (value == key->second.end()) {
        return zp::StoreResult::ValueNotFound;
    }
    const auto needed = static_cast<std::uint32_t>(value->second.data.size());
    if (data != nullptr && *size < needed) {
        *size = needed;
        return zp::StoreResult::BufferTooSmall;
    }
    if (data != nullptr) {
        std::copy(value->second.data.begin(), value->second.data.end(), data);
    }
    *type = value->second.type;
    *size = needed;
    return zp::StoreResult::Ok;
}

bool FakePlatform::storeSet(const std::string& keyPath, const char* name, std::uint32_t type,
                            const std::uint8_t* data, std::uint32_t size) {
    if (!storeCreateKey(keyPath)) {
        return false;
    }
    auto& value = store[normaliseKey(keyPath)][lowered(name)];
    value.type = type;
    value.data.assign(data, data + size);
    return true;
}

void FakePlatform::putStoreString(const std::string& keyPath, const std::string& name, const std::string& value) {
    const std::string key = normaliseKey(keyPath);
    createKeyWithParents(store, key);
    auto& stored = store[key][lowered(name)];
    stored.type = zp::kRegSz;
    stored.data.assign(value.begin(), value.end());
    stored.data.push_back(0);
}

std::optional<std::string> FakePlatform::storeString(const std::string& keyPath, const std::string& name) const {
    const auto key = store.find(normaliseKey(keyPath));
    if (key == store.end()) {
        return std::nullopt;
    }
    const auto value = key->second.find(lowered(name));
    if (value == key->second.end()) {
        return std::nullopt;
    }
    const auto& bytes = value->second.data;
    const auto nul = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
    return std::string(bytes.begin(), nul);
}

zp::NamedLockResult FakePlatform::takeNamedLock(const char* name) {
    if (namedLockFails) {
        return zp::NamedLockResult::Failed;
    }
    return namedLocks.emplace(name, zp::NamedLockState::HeldHere).second ? zp::NamedLockResult::Created
                                                                          : zp::NamedLockResult::AlreadyExists;
}

zp::NamedLockState FakePlatform::namedLockState(const char* name) {
    const auto it = namedLocks.find(name);
    return it == namedLocks.end() ? zp::NamedLockState::Free : it->second;
}

bool FakePlatform::releaseNamedLock(const char* name) {
    const auto it = namedLocks.find(name);
    if (it == namedLocks.end() || it->second != zp::NamedLockState::HeldHere) {
        return false;
    }
    namedLocks.erase(it);
    return true;
}

void FakePlatform::holdNamedLockElsewhere(const std::string& name) {
    namedLocks[name] = zp::NamedLockState::HeldElsewhere;
}

std::unique_ptr<zp::BlockCipher> FakePlatform::rc4FromPassword(const char* password) {
    cipherPasswords.emplace_back(password);
    return cipherFactory ? cipherFactory(password) : nullptr;
}

bool FakePlatform::displayDevice(std::uint32_t index, zp::DisplayDevice& out) {
    if (index >= displays.size()) {
        return false;
    }
    out = displays[index];
    return true;
}

zp::NativeHandle FakePlatform::createDeviceContext(const std::string& deviceName) {
    deviceContexts.push_back(deviceName);
    return 1;
}

zp::NativeHandle FakePlatform::loadLibrary(const char* name) {
    loadAttempts.emplace_back(name);
    if (libraries.count(name) == 0) {
        return 0;
    }
    const auto handle = nextHandle_++;
    openLibraries_[handle] = name;
    return handle;
}

void* FakePlatform::findSymbol(zp::NativeHandle library, const char* name) {
    symbolLookups.emplace_back(name);
    const auto open = openLibraries_.find(library);
    if (open == openLibraries_.end()) {
        return nullptr;
    }
    const auto lib = libraries.find(open->second);
    if (lib == libraries.end()) {
        return nullptr;
    }
    const auto symbol = lib->second.symbols.find(name);
    return symbol == lib->second.symbols.end() ? nullptr : symbol->second;
}

void FakePlatform::freeLibrary(zp::NativeHandle library) {
    ++freedLibraries;
    openLibraries_.erase(library);
}

std::string hexOf(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        out += kDigits[b >> 4];
        out += kDigits[b & 0x0F];
    }
    return out;
}

}  // namespace zxtest
