// PCI display adapter discovery: fills the adapter table with the ATI/AMD and
// NVIDIA display adapters of the machine, at most three.
#pragma once

#include <string_view>

#include "core/types.h"
#include "platform/platform.h"

namespace zx::discovery {

struct ParsedInstanceId {
    VendorKind kind = VendorKind::None;
    char vendorId[5] = {};
    char deviceId[5] = {};
    char subsystemId[5] = {};
    char subsystemVendorId[5] = {};
};

// Kind and the four identifier strings of a device instance ID.
ParsedInstanceId parseInstanceId(std::string_view instanceId);

// Bus, device and function from a location text. The older form
// "PCI bus 1, device 0, function 0" gives its first three numbers, the newer
// form ending in "(bus,device,function)" its last three; whole decimal
// numbers are taken and a missing number gives 0.
PciLocation parseLocation(std::string_view text, bool newFormat);

// True on systems that write the newer location form (major version > 5).
bool isNewLocationFormat(platform::Platform& os);

// Rebuilds the table; true when at least one adapter was recorded.
bool discoverAdapters(AdapterTable& table, platform::Platform& os);

}  // namespace zx::discovery
