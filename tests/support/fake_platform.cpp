#include "support/fake_platform.h"

#include <algorithm>

namespace zxtest {

namespace {

// Store keys and value names ignore ASCII case, key paths trailing backslashes.
std::string lowered(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; });
    return s;
}
std::string keyOf(const std::string& path) {
    std::string key = lowered(path);
    return key.erase(key.find_last_not_of('\\') + 1);
}

class FakeWriter final : public zp::FileWriter {
public:
    FakeWriter(FakePlatform& os, std::string path) : os_(os), path_(std::move(path)) {}
    bool write(const void* data, std::size_t size) override {
        if (os_.writesFail) {
            return false;
        }
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        os_.files[path_].insert(os_.files[path_].end(), bytes, bytes + size);
        return true;
    }
    bool readBack(std::size_t maxSize, std::vector<std::uint8_t>& out) override {
        return os_.readFile(path_, maxSize, out);
    }
    bool remove() override { return os_.deleteFile(path_); }

private:
    FakePlatform& os_;
    std::string path_;
};

}  // namespace

void FakePlatform::addDevice(std::string instanceId, std::optional<std::string> setupClass,
                             std::optional<std::string> location) {
    devices.push_back({std::move(instanceId), setupClass.has_value(), setupClass.value_or(""), location.has_value(),
                       location.value_or("")});
}

std::unique_ptr<zp::FileWriter> FakePlatform::createPrivateFile(const std::string& path) {
    files[path].clear();
    return std::make_unique<FakeWriter>(*this, path);
}

bool FakePlatform::storeKeyExists(const std::string& keyPath) {
    return !storeFails && store_.count(keyOf(keyPath)) != 0;
}

bool FakePlatform::storeCreateKey(const std::string& keyPath) {
    if (!storeFails) {
        store_[keyOf(keyPath)];
    }
    return !storeFails;
}

zp::StoreResult FakePlatform::storeQuery(const std::string& keyPath, const char* name, std::uint32_t* type,
                                         std::uint8_t* data, std::uint32_t* size) {
    const auto key = store_.find(keyOf(keyPath));
    if (storeFails || key == store_.end()) {
        return storeFails ? zp::StoreResult::Failed : zp::StoreResult::KeyNotFound;
    }
    const auto value = key->second.find(lowered(name));
    if (value == key->second.end()) {
        return zp::StoreResult::ValueNotFound;
    }
    const auto& bytes = value->second.data;
    const std::uint32_t needed = static_cast<std::uint32_t>(bytes.size());
    if (data != nullptr && *size < needed) {
        *size = needed;
        return zp::StoreResult::BufferTooSmall;
    }
    if (data != nullptr) {
        std::copy(bytes.begin(), bytes.end(), data);
    }
    *type = value->second.type;
    *size = needed;
    return zp::StoreResult::Ok;
}

bool FakePlatform::storeSet(const std::string& keyPath, const char* name, std::uint32_t type, const std::uint8_t* data,
                            std::uint32_t size) {
    if (storeFails) {
        return false;
    }
    store_[keyOf(keyPath)][lowered(name)] = {type, std::vector<std::uint8_t>(data, data + size)};
    return true;
}

void* FakePlatform::findSymbol(zp::NativeHandle library, const char* name) {
    const auto open = openLibraries_.find(library);
    const auto lib = open == openLibraries_.end() ? libraries.end() : libraries.find(open->second);
    if (lib == libraries.end()) {
        return nullptr;
    }
    const auto symbol = lib->second.symbols.find(name);
    return symbol == lib->second.symbols.end() ? nullptr : symbol->second;
}

std::string hexOf(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : bytes) {
        out += {kDigits[static_cast<unsigned char>(c) >> 4], kDigits[c & 0x0F]};
    }
    return out;
}

}  // namespace zxtest
