#include "support/fake_platform.h"

namespace zxtest {

namespace zp = zx::platform;

namespace {

class FakeWriter final : public zp::FileWriter {
public:
    FakeWriter(FakePlatform& os, std::string path) : os_(os), path_(std::move(path)) {}
    bool write(const void* data, std::size_t size) override {
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
    zp::DeviceRecord record;
    record.instanceId = std::move(instanceId);
    record.hasClass = setupClass.has_value();
    record.setupClass = setupClass.value_or("");
    record.hasLocation = location.has_value();
    record.location = location.value_or("");
    devices.push_back(std::move(record));
}

bool FakePlatform::listDevices(std::vector<zp::DeviceRecord>& out) {
    if (deviceListFails) {
        return false;
    }
    out = devices;
    return true;
}

bool FakePlatform::readFile(const std::string& path, std::size_t maxSize, std::vector<std::uint8_t>& out) {
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
    files[path].clear();
    return std::make_unique<FakeWriter>(*this, path);
}

void FakePlatform::putFile(const std::string& path, std::string_view contents) {
    files[path].assign(contents.begin(), contents.end());
}

std::string FakePlatform::fileText(const std::string& path) const {
    const auto it = files.find(path);
    return it == files.end() ? std::string() : std::string(it->second.begin(), it->second.end());
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
    openLibraries_[nextHandle_] = name;
    return nextHandle_++;
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
        out += kDigits[static_cast<unsigned char>(c) >> 4];
        out += kDigits[static_cast<unsigned char>(c) & 0x0F];
    }
    return out;
}

}  // namespace zxtest
