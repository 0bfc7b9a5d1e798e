// The shared library's dynamic symbol table, read from the built file: it
// defines exactly the 53 exports and nothing else.
#include <elf.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "zxdisplay.h"

namespace {

std::set<std::string> definedDynamicSymbols(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (file.size() < sizeof(Elf64_Ehdr)) {
        ADD_FAILURE() << "cannot read " << path;
        return {};
    }
    const auto* eh = reinterpret_cast<const Elf64_Ehdr*>(file.data());
    if (std::memcmp(eh->e_ident, ELFMAG, SELFMAG) != 0 || eh->e_ident[EI_CLASS] != ELFCLASS64) {
        ADD_FAILURE() << path << " is not a 64-bit ELF file";
        return {};
    }
    const auto* sections = reinterpret_cast<const Elf64_Shdr*>(file.data() + eh->e_shoff);
    std::set<std::string> names;
    for (int i = 0; i < eh->e_shnum; ++i) {
        if (sections[i].sh_type != SHT_DYNSYM) {
            continue;
        }
        const Elf64_Shdr& strtab = sections[sections[i].sh_link];
        const auto* syms = reinterpret_cast<const Elf64_Sym*>(file.data() + sections[i].sh_offset);
        const std::size_t count = sections[i].sh_size / sizeof(Elf64_Sym);
        for (std::size_t k = 0; k < count; ++k) {
            const Elf64_Sym& s = syms[k];
            const unsigned bind = ELF64_ST_BIND(s.st_info);
            if (s.st_shndx == SHN_UNDEF || (bind != STB_GLOBAL && bind != STB_WEAK)) {
                continue;
            }
            names.insert(file.data() + strtab.sh_offset + s.st_name);
        }
    }
    return names;
}

const std::set<std::string> kExports = {
    "ZXInitLib", "ZXDeInitLib", "ZXGetLockLibStatus", "ZXSetLockLibStatus", "ZXGetAdapterInfo",
    "ZXGetControlMode", "ZXGetGpuCount", "ZXGetCurrentPerformanceLevel", "ZXGetVGAInfoDescription",
    "ZXGetCurrentVoltage", "ZXGetPerformanceLevelVoltages", "ZXGetPerformanceDefaultVoltages", "ZXGetVoltageInfo",
    "ZXGet2DDefaultVoltage", "ZXSetCurrentVoltageLevel", "ZXSetPerformanceVoltageLevel", "ZXSetVoltageDefault",
    "ZXGetCurrentMemoryVoltageLevel", "ZXGetMemoryVoltageInfo", "ZXGetMemoryVoltageDefault",
    "ZXSetCurrentMemoryVoltageLevel", "ZXSetMemoryVoltageDefault",
    "ZXGetPerformanceLevelGPUClocks", "ZXGetGPUClockInfo", "ZXGetGPUClockInfoEx", "ZXGetPerformanceDefaultGPUClocks",
    "ZXSetPerformanceLevelGPUClock", "ZXSetGPUClockDefault",
    "ZXGetPerformanceLevelMemoryClocks", "ZXGetMemoryClockInfo", "ZXGetMemoryClockInfoEx",
    "ZXGetPerformanceDefaultMemoryClocks", "ZXSetPerformanceLevelMemoryClock", "ZXSetMemoryClockDefault",
    "ZXGetPerformanceLevelShaderClocks", "ZXGetShaderClockInfo", "ZXGetShaderClockInfoEx",
    "ZXGetPerformanceDefaultShaderClocks", "ZXSetPerformanceLevelShaderClock", "ZXSetShaderClockDefault",
    "ZXGetCurrentPWMClockLevel", "ZXGetPWMClockInfo", "ZXGetPWMClockDefault", "ZXSetCurrentPWMClockLevel",
    "ZXSetPWMClockDefault", "ZXGetTemperature", "ZXGetUsage", "ZXGetDACLevel", "ZXSetDACLevel",
    "ZXGetFanSpeedInfo", "ZXGetFanSpeed", "ZXSetFanSpeed", "ZXSetFanSpeedDefault",
};

TEST(SharedLibrary, ExportsExactlyTheFiftyThreeFunctions) {
    ASSERT_EQ(kExports.size(), 53u);
    const auto symbols = definedDynamicSymbols(ZX_TEST_SHARED_LIBRARY);
    std::vector<std::string> extra;
    std::vector<std::string> missing;
    std::set_difference(symbols.begin(), symbols.end(), kExports.begin(), kExports.end(), std::back_inserter(extra));
    std::set_difference(kExports.begin(), kExports.end(), symbols.begin(), symbols.end(), std::back_inserter(missing));
    EXPECT_TRUE(extra.empty()) << "unexpected: " << ::testing::PrintToString(extra);
    EXPECT_TRUE(missing.empty()) << "missing: " << ::testing::PrintToString(missing);
}

TEST(SharedLibrary, ACallerLinkedAgainstItSeesTheAdapterTable) {
    ZXAdapterInfoRecord info;
    std::memset(&info, 0xAA, sizeof info);
    EXPECT_EQ(ZXGetAdapterInfo(&info), ZX_STATUS_NOT_INITIALISED);
    EXPECT_EQ(info.count, 0u);
}

}  // namespace
