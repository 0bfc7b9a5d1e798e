// Decimal text as profile files and stored values hold it.
#pragma once

#include <cstdint>

namespace zx {

// Parses like the C library's atoi: leading white space, one optional sign,
// digits up to the first other character; no digits gives 0. Values beyond
// the 32-bit range saturate at its limits, whatever the host C library does.
std::int32_t parseDecimal(const char* text);

}  // namespace zx
