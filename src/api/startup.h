// ZXInitLib and ZXDeInitLib.
#pragma once

#include <string>

#include "core/types.h"
#include "platform/platform.h"

namespace zx {

// Card data file names, looked for in the platform's data folders.
inline constexpr const char* kAtiDataFileName = "ATIVGA.DAT";
inline constexpr const char* kNvDataFileName = "NVVGA.DAT";
// The temporary profile, below the user's documents folder.
inline constexpr const char* kTempFolderName = "temp";
inline constexpr const char* kTempProfileName = "VGA.ini";

// The first readable card data file NAME in the platform's data folders
// (Platform::dataFolders); the first folder's path when none is.
std::string findDataFile(platform::Platform& os, const char* name);

StatusCode initLib();
StatusCode deInitLib();

}  // namespace zx
