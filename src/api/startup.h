// ZXInitLib and ZXDeInitLib.
#pragma once

#include "core/types.h"

namespace zx {

// Card data file names, in the folder of the host's executable.
inline constexpr const char* kAtiDataFileName = "ATIVGA.DAT";
inline constexpr const char* kNvDataFileName = "NVVGA.DAT";
// The temporary profile, below the user's documents folder.
inline constexpr const char* kTempFolderName = "temp";
inline constexpr const char* kTempProfileName = "VGA.ini";

StatusCode initLib();
StatusCode deInitLib();

}  // namespace zx
