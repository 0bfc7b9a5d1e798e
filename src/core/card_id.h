// The card-model name that keys the profile section and the stores.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/types.h"

namespace zx {

// Writes "VVVV_DDDD_SSSS_BBBB" for entry i of the table into out (at least
// kCardIdSize bytes).
void formatCardId(const AdapterTable& table, std::uint32_t i, char* out, std::size_t size);

}  // namespace zx
