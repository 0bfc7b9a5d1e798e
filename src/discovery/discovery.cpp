// Placeholder until discovery lands.
#include "discovery/discovery.h"

namespace zx::discovery {

ParsedInstanceId parseInstanceId(std::string_view) { return {}; }
PciLocation parseLocation(std::string_view, bool) { return {}; }
bool isNewLocationFormat(platform::Platform& os) { return os.osMajorVersion() > 5; }
bool discoverAdapters(AdapterTable& table, platform::Platform&) {
    table.count = 0;
    return false;
}

}  // namespace zx::discovery
