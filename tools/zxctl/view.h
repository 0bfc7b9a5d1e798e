// Text views of the records zxctl reads (records.h): status and info as
// aligned tables, watch samples as one line each or as CSV.
#pragma once

#include <string>

#include "records.h"

namespace zxctl {

void printGpuText(const json& gpu);
void printInfoText(const json& info);

// One watch sample as a line of text.
std::string watchLine(const json& sample);
// Watch samples as CSV: the header line, and one sample's line.
std::string csvHeader();
std::string csvLine(const json& sample);

}  // namespace zxctl
