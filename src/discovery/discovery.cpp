#include "discovery/discovery.h"

#include <cstring>
#include <limits>
#include <utility>

namespace zx::discovery {

namespace {

constexpr std::string_view kNvidiaPciPrefix = "PCI\\VEN_10DE";
constexpr std::string_view kAtiPciPrefix = "PCI\\VEN_1002";
constexpr std::string_view kDisplayClass = "Display";
// The system hands out instance IDs in a 260-byte buffer; a longer one cannot
// be read and its device is passed over.
constexpr std::size_t kMaxInstanceIdLength = 259;

// The system's values are C texts: whatever follows a NUL is not part of them.
std::string_view cText(std::string_view s) {
    const auto nul = s.find('\0');
    return nul == std::string_view::npos ? s : s.substr(0, nul);
}

// Copies up to four characters that start `offset` characters after the first
// occurrence of marker into a zeroed field. An ID without the marker leaves
// the field empty; one that ends early leaves it shorter.
void copyField(std::string_view id, std::string_view marker, std::size_t offset, char (&out)[5]) {
    const auto at = id.find(marker);
    if (at == std::string_view::npos || at + offset >= id.size()) {
        return;
    }
    const auto field = id.substr(at + offset, 4);
    std::memcpy(out, field.data(), field.size());
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The whole decimal numbers of a text in text order. A number too large for
// 32 bits saturates rather than wrapping into a plausible small value.
template <typename Visit>
void forEachNumber(std::string_view text, Visit visit) {
    constexpr std::uint32_t kMax = std::numeric_limits<std::uint32_t>::max();
    std::size_t i = 0;
    while (i < text.size()) {
        if (!isDigit(text[i])) {
            ++i;
            continue;
        }
        std::uint32_t value = 0;
        for (; i < text.size() && isDigit(text[i]); ++i) {
            const auto digit = static_cast<std::uint32_t>(text[i] - '0');
            value = value > (kMax - digit) / 10 ? kMax : value * 10 + digit;
        }
        visit(value);
    }
}

void storeEntry(AdapterTable& table, std::uint32_t i, const ParsedInstanceId& id) {
    table.kind[i] = static_cast<std::uint32_t>(id.kind);
    std::memcpy(table.vendorId[i], id.vendorId, sizeof id.vendorId);
    std::memcpy(table.deviceId[i], id.deviceId, sizeof id.deviceId);
    std::memcpy(table.subsystemId[i], id.subsystemId, sizeof id.subsystemId);
    std::memcpy(table.subsystemVendorId[i], id.subsystemVendorId, sizeof id.subsystemVendorId);
}

}  // namespace

ParsedInstanceId parseInstanceId(std::string_view instanceId) {
    const auto id = cText(instanceId);
    ParsedInstanceId out;
    if (id.find("VEN_10DE") != std::string_view::npos) {
        out.kind = VendorKind::Nvidia;
    } else if (id.find("VEN_1002") != std::string_view::npos) {
        out.kind = VendorKind::Ati;
    }
    copyField(id, "VEN_", 4, out.vendorId);
    copyField(id, "DEV_", 4, out.deviceId);
    // "SUBSYS_" is followed by the subsystem ID, then the subsystem vendor ID.
    copyField(id, "SUBSYS_", 7, out.subsystemId);
    copyField(id, "SUBSYS_", 11, out.subsystemVendorId);
    return out;
}

PciLocation parseLocation(std::string_view text, bool newFormat) {
    std::uint32_t numbers[3] = {};
    if (!newFormat) {
        std::size_t found = 0;
        // "PCI bus 1, device 0, function 0": the leading numbers, in order; a
        // text that stops early leaves the trailing ones 0.
        forEachNumber(text, [&](std::uint32_t v) {
            if (found < 3) {
                numbers[found++] = v;
            }
        });
    } else {
        // The newer form may start with a resource reference full of numbers
        // ("@...pci.sys,#65536;...") and ends in "(bus,device,function)", so
        // only the last three count. They stay anchored to the end: with fewer
        // than three the last is still the function, and the leading ones are 0.
        forEachNumber(text, [&](std::uint32_t v) {
            numbers[0] = numbers[1];
            numbers[1] = numbers[2];
            numbers[2] = v;
        });
    }
    return PciLocation{numbers[0], numbers[1], numbers[2]};
}

bool isNewLocationFormat(platform::Platform& os) { return os.osMajorVersion() > 5; }

bool discoverAdapters(AdapterTable& table, platform::Platform& os) {
    // A rebuild starts from no adapters. The string columns keep their text:
    // only entries below count are meaningful, and the adapter-info export
    // hands the strings of all three entries out as they are.
    table.count = 0;
    for (std::uint32_t i = 0; i < kMaxAdapters; ++i) {
        table.kind[i] = 0;
        table.location[i] = PciLocation{};
    }

    std::vector<platform::DeviceRecord> devices;
    if (!os.listDevices(devices)) {
        return false;
    }

    const bool newFormat = isNewLocationFormat(os);
    for (const auto& device : devices) {
        if (table.count >= kMaxAdapters) {
            break;
        }
        const auto id = cText(device.instanceId);
        if (id.size() > kMaxInstanceIdLength) {
            continue;
        }
        if (id.find(kNvidiaPciPrefix) == std::string_view::npos && id.find(kAtiPciPrefix) == std::string_view::npos) {
            continue;
        }
        // Other functions of the card (audio, USB) share the vendor prefix.
        if (!device.hasClass || cText(device.setupClass) != kDisplayClass) {
            continue;
        }
        const std::uint32_t entry = table.count++;
        storeEntry(table, entry, parseInstanceId(id));
        if (device.hasLocation) {
            table.location[entry] = parseLocation(cText(device.location), newFormat);
        }
    }

    // GPU index 0 is the card on the lower bus: the first two entries are put
    // in bus order. Only their locations move; the ATI backend addresses the
    // cards by location alone, and a working table holds one card model only.
    if (table.count >= 2 && table.location[0].bus > table.location[1].bus) {
        std::swap(table.location[0], table.location[1]);
    }
    return table.count != 0;
}

}  // namespace zx::discovery
