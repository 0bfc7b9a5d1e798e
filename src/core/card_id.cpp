#include "core/card_id.h"

#include <cstring>
#include <string>

namespace zx {

void formatCardId(const AdapterTable& table, std::uint32_t i, char* out, std::size_t size) {
    // The "%s_%s_%s_%s" of the four table strings, cut to fit out.
    const std::string id = std::string(table.vendorId[i]) + '_' + table.deviceId[i] + '_' + table.subsystemId[i] +
                           '_' + table.subsystemVendorId[i];
    if (size == 0) {
        return;
    }
    const std::size_t n = id.size() < size ? id.size() : size - 1;
    std::memcpy(out, id.data(), n);
    out[n] = '\0';
}

}  // namespace zx
