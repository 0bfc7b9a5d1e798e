// ZXInitLib and ZXDeInitLib.
#pragma once

#include "api/types.h"

namespace zx {

// Card data file names, in the folder of the host's executable.
inline constexpr const char* kAtiDataFileName = "ATIVGA.DAT";
inline constexpr const char* kNvDataFileName = "NVVGA.DAT";
// The temporary profile, below the user's documents folder.
inline constexpr const char* kTempFolderName = "temp";
inline constexpr const char* kTempProfileName = "VGA.ini";

// Writes "VVVV_DDDD_SSSS_BBBB" for entry i of the table into out (at least
// kCardIdSize bytes).
void formatCardId(const AdapterTable& table, std::uint32_t i, char* out, std::size_t size);

StatusCode initLib();
StatusCode deInitLib();

}  // namespace zx
