// Device list from sysfs, rendered as the Windows-style texts that discovery
// parses: the device instance ID, the setup class of its device key and its
// location text.
#include <dirent.h>
#include <sys/utsname.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "platform/posix/posix_io.h"
#include "platform/posix/posix_platform.h"

namespace zx::platform::posix {

namespace {

// One attribute such as "0x10de\n": hexadecimal with an optional 0x prefix,
// no larger than maxValue.
std::optional<std::uint32_t> readHexAttribute(const std::string& path, std::uint32_t maxValue) {
    std::vector<std::uint8_t> raw;
    if (!readRegularFile(path, 4096, raw)) {
        return std::nullopt;
    }
    std::string_view text(reinterpret_cast<const char*>(raw.data()), raw.size());
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
        text.remove_suffix(1);
    }
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
        text.remove_prefix(1);
    }
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
    }
    if (text.empty() || text.size() > 8) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    for (char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) {
            return std::nullopt;
        }
        const int digit = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::tolower(c) - 'a' + 10;
        value = value * 16 + static_cast<std::uint32_t>(digit);
    }
    if (value > maxValue) {
        return std::nullopt;
    }
    return value;
}

struct PciAddress {
    unsigned domain = 0, bus = 0, device = 0, function = 0;
};

// "dddd:bb:dd.f", as sysfs names PCI functions.
std::optional<PciAddress> parseAddress(const std::string& name) {
    PciAddress a;
    int consumed = 0;
    if (std::sscanf(name.c_str(), "%x:%x:%x.%x%n", &a.domain, &a.bus, &a.device, &a.function, &consumed) != 4 ||
        static_cast<std::size_t>(consumed) != name.size() || a.bus > 0xFF || a.device > 0x1F || a.function > 7) {
        return std::nullopt;
    }
    return a;
}

// The part of the instance ID after the hardware IDs: any stable text without
// backslashes does; the sysfs address in upper case keeps it readable.
std::string instanceSuffix(const std::string& name) {
    std::string s = name;
    for (char& c : s) {
        c = (c == '\\') ? '_' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return s;
}

std::optional<DeviceRecord> readDevice(const std::string& dir, const std::string& name) {
    const auto vendor = readHexAttribute(dir + "/vendor", 0xFFFF);
    const auto device = readHexAttribute(dir + "/device", 0xFFFF);
    if (!vendor || !device) {
        return std::nullopt;
    }
    // The remaining attributes are optional; what is missing reads as 0.
    const std::uint32_t subVendor = readHexAttribute(dir + "/subsystem_vendor", 0xFFFF).value_or(0);
    const std::uint32_t subDevice = readHexAttribute(dir + "/subsystem_device", 0xFFFF).value_or(0);
    const std::uint32_t revision = readHexAttribute(dir + "/revision", 0xFF).value_or(0);
    const auto pciClass = readHexAttribute(dir + "/class", 0xFFFFFF);

    DeviceRecord rec;
    // Windows writes the subsystem ID as one 32-bit number: device in the
    // high half, vendor in the low half.
    char ids[64];
    std::snprintf(ids, sizeof ids, "PCI\\VEN_%04X&DEV_%04X&SUBSYS_%04X%04X&REV_%02X\\", *vendor, *device, subDevice,
                  subVendor, revision);
    rec.instanceId = ids + instanceSuffix(name);
    if (pciClass) {
        rec.hasClass = true;
        rec.setupClass = setupClassName(*pciClass);
    }
    if (const auto a = parseAddress(name)) {
        char location[96];
        std::snprintf(location, sizeof location, "PCI bus %u, device %u, function %u;(%u,%u,%u)", a->bus, a->device,
                      a->function, a->bus, a->device, a->function);
        rec.hasLocation = true;
        rec.location = location;
    }
    return rec;
}

}  // namespace

const char* setupClassName(std::uint32_t pciClass) {
    switch (pciClass >> 16) {
    case 0x01: return "HDC";
    case 0x02: return "Net";
    case 0x03: return "Display";
    case 0x04: return "MEDIA";
    case 0x05: return "System";
    case 0x06: return "System";
    case 0x07: return "Ports";
    case 0x08: return "System";
    case 0x09: return "HIDClass";
    case 0x0C: return "USB";
    case 0x0D: return "Net";
    case 0x11: return "System";
    case 0x12: return "System";
    default: return "Unknown";
    }
}

bool PosixPlatform::listDevices(std::vector<DeviceRecord>& out) {
    const std::string devices = sysfsRoot() + "/bus/pci/devices";
    DIR* dir = ::opendir(devices.c_str());
    if (dir == nullptr) {
        return false;
    }
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] != '.') {
            names.emplace_back(entry->d_name);
        }
    }
    ::closedir(dir);
    // readdir's order is arbitrary; address order is what lspci shows and keeps
    // the enumeration stable from one start to the next.
    std::sort(names.begin(), names.end());

    out.clear();
    for (const std::string& name : names) {
        if (auto rec = readDevice(devices + "/" + name, name)) {
            out.push_back(std::move(*rec));
        }
    }
    return true;
}

unsigned PosixPlatform::osMajorVersion() {
    utsname u {};
    if (::uname(&u) != 0) {
        return 0;
    }
    return static_cast<unsigned>(std::strtoul(u.release, nullptr, 10));
}

}  // namespace zx::platform::posix
