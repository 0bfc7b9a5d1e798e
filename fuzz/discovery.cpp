// Instance-ID and location parsing, and the sysfs rendering they read. The
// input is up to eight fields separated by '\n': a device folder's name, its
// vendor, device, subsystem_vendor, subsystem_device, revision and class
// attribute files, and free text. The device is written into a sysfs tree of
// its own, listed and rendered as the platform does, and the rendering parsed
// back: valid attributes must come back as their four hexadecimal digits and
// a valid address as its numbers. The free text goes through both parsers and
// discovery on an in-memory platform as an instance ID and a location.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "discovery/discovery.h"
#include "fuzz_check.h"
#include "platform/posix/posix_platform.h"
#include "support/fake_platform.h"

namespace {

const std::string& sysfsRoot() {
    static const std::string root = [] {
        const char* shm = "/dev/shm";
        std::string pattern = std::string(::access(shm, W_OK) == 0 ? shm : "/tmp") + "/zxfuzz-sysfs-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        ::setenv("ZXDISPLAY_SYSFS_ROOT", pattern.c_str(), 1);
        std::atexit([] { std::filesystem::remove_all(std::getenv("ZXDISPLAY_SYSFS_ROOT")); });
        return pattern;
    }();
    return root;
}

void writeFile(const std::string& path, std::string_view text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd >= 0) {
        (void)!::write(fd, text.data(), text.size());
        ::close(fd);
    }
}

// The value the platform must take from an attribute file, mirrored from
// what sysfs writes: optional blanks, an optional 0x, one to eight hex digits.
std::optional<std::uint32_t> expectedHex(std::string_view t, std::uint32_t max) {
    auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    while (!t.empty() && blank(t.back())) t.remove_suffix(1);
    while (!t.empty() && blank(t.front())) t.remove_prefix(1);
    if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) t.remove_prefix(2);
    if (t.empty() || t.size() > 8) return std::nullopt;
    std::uint32_t v = 0;
    for (char c : t) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
        v = v * 16 + static_cast<std::uint32_t>(std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::tolower(c) - 'a' + 10);
    }
    if (v > max) return std::nullopt;
    return v;
}

std::string hex4(std::uint32_t v) {
    char b[8];
    std::snprintf(b, sizeof b, "%04X", v);
    return b;
}

void checkTable(const zx::AdapterTable& t) {
    ZX_FUZZ_CHECK(t.count <= zx::kMaxAdapters);
    for (std::uint32_t i = 0; i < zx::kMaxAdapters; ++i) {
        ZX_FUZZ_CHECK(t.vendorId[i][4] == '\0' && t.deviceId[i][4] == '\0');
        ZX_FUZZ_CHECK(t.subsystemId[i][4] == '\0' && t.subsystemVendorId[i][4] == '\0');
        ZX_FUZZ_CHECK(i < t.count ? (t.kind[i] == 1 || t.kind[i] == 2) : t.kind[i] == 0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto in = zxfuzz::split<8>({reinterpret_cast<const char*>(data), size}, '\n');

    // Free text through the parsers and discovery.
    const std::string_view text = in.f[7];
    const zx::discovery::ParsedInstanceId parsed = zx::discovery::parseInstanceId(text);
    ZX_FUZZ_CHECK(parsed.vendorId[4] == '\0' && parsed.deviceId[4] == '\0');
    ZX_FUZZ_CHECK(parsed.subsystemId[4] == '\0' && parsed.subsystemVendorId[4] == '\0');
    zx::discovery::parseLocation(text, false);
    zx::discovery::parseLocation(text, true);
    zxtest::FakePlatform fake;
    for (int i = 0; i < 4; ++i) {
        fake.addDevice(std::string(text), std::string(i == 3 ? text : "Display"), std::string(text));
    }
    zx::AdapterTable table{};
    zx::discovery::discoverAdapters(table, fake);
    checkTable(table);

    // One device folder rendered by the platform. Folder names are what a
    // file system allows.
    std::string name(in.f[0].substr(0, 64));
    for (char& c : name) {
        if (c == '/' || c == '\0') c = '_';
    }
    if (name.empty() || name[0] == '.') {
        name = std::string("d") + name;
    }
    const std::string devices = sysfsRoot() + "/bus/pci/devices";
    std::filesystem::remove_all(sysfsRoot() + "/bus");
    std::filesystem::create_directories(devices + "/" + name);
    static const char* const kAttributes[] = {"vendor", "device", "subsystem_vendor", "subsystem_device",
                                              "revision", "class"};
    for (int i = 0; i < 6; ++i) {
        if (!in.f[i + 1].empty()) {
            writeFile(devices + "/" + name + "/" + kAttributes[i], in.f[i + 1]);
        }
    }
    std::vector<zx::platform::DeviceRecord> records;
    ZX_FUZZ_CHECK(zx::platform::native().listDevices(records));
    const auto vendor = expectedHex(in.f[1], 0xFFFF);
    const auto device = expectedHex(in.f[2], 0xFFFF);
    ZX_FUZZ_CHECK(records.size() == ((vendor && device) ? 1u : 0u));
    if (records.empty()) {
        return 0;
    }
    const zx::platform::DeviceRecord& rec = records[0];
    const auto id = zx::discovery::parseInstanceId(rec.instanceId);
    ZX_FUZZ_CHECK(id.vendorId == hex4(*vendor) && id.deviceId == hex4(*device));
    ZX_FUZZ_CHECK(id.subsystemVendorId == hex4(expectedHex(in.f[3], 0xFFFF).value_or(0)));
    ZX_FUZZ_CHECK(id.subsystemId == hex4(expectedHex(in.f[4], 0xFFFF).value_or(0)));
    const bool vendorKnown = *vendor == 0x10DE || *vendor == 0x1002;
    // The folder name ends the instance ID (upper case, a backslash as '_');
    // one that spells "VEN_" there may name another vendor.
    std::string upper = name;
    for (char& c : upper) c = c == '\\' ? '_' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    ZX_FUZZ_CHECK(upper.find("VEN_") != std::string::npos || id.kind == (*vendor == 0x10DE ? zx::VendorKind::Nvidia
                              : *vendor == 0x1002 ? zx::VendorKind::Ati
                                                  : zx::VendorKind::None));
    ZX_FUZZ_CHECK(rec.hasClass == expectedHex(in.f[6], 0xFFFFFF).has_value());
    unsigned domain = 0, bus = 0, dev = 0, function = 0;
    int consumed = 0;
    const bool address = std::sscanf(name.c_str(), "%x:%x:%x.%x%n", &domain, &bus, &dev, &function, &consumed) == 4 &&
                         static_cast<std::size_t>(consumed) == name.size() && bus <= 0xFF && dev <= 0x1F && function <= 7;
    ZX_FUZZ_CHECK(rec.hasLocation == address);
    if (address) {
        for (bool newFormat : {false, true}) {
            const zx::PciLocation loc = zx::discovery::parseLocation(rec.location, newFormat);
            ZX_FUZZ_CHECK(loc.bus == bus && loc.device == dev && loc.function == function);
        }
    }
    fake.devices.clear();
    fake.addDevice(rec.instanceId, rec.hasClass ? std::optional<std::string>(rec.setupClass) : std::nullopt,
                   rec.hasLocation ? std::optional<std::string>(rec.location) : std::nullopt);
    zx::discovery::discoverAdapters(table, fake);
    checkTable(table);
    ZX_FUZZ_CHECK(table.count == ((vendorKnown && rec.setupClass == "Display") ? 1u : 0u));
    return 0;
}
