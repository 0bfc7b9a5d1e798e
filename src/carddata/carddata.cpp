// Placeholder until card data decoding lands.
#include "carddata/carddata.h"

namespace zx::carddata {

std::uint8_t hexDigitValue(char) { return 255; }
std::size_t hexPairsToBytes(char*) { return 0; }
int decodeCardDataFile(const std::string&, const std::string&, const char*, platform::Platform&) { return -1; }

}  // namespace zx::carddata
