// zxsim-nvapi-probe: loads NVAPI the way the library does (by bare name),
// initialises it and prints the GPUs it enumerates. Exit status 0 when every
// call succeeded, 1 when one failed, 2 when the library or its entry point is
// missing.
#include <dlfcn.h>

#include <cstdio>

#include "nvapi_contract.h"

namespace nv = zxsim::nv;

int main() {
    void* lib = dlopen("libnvidia-api.so.1", RTLD_NOW);
    if (lib == nullptr) {
        std::printf("load failed: %s\n", dlerror());
        return 2;
    }
    auto query = reinterpret_cast<nv::NvQueryInterfaceFn>(dlsym(lib, nv::kQueryInterfaceSymbol));
    if (query == nullptr) {
        std::printf("no %s\n", nv::kQueryInterfaceSymbol);
        return 2;
    }
    auto initialize = reinterpret_cast<nv::NvInitializeFn>(query(nv::NvapiId::Initialize));
    auto enumerate = reinterpret_cast<nv::NvEnumPhysicalGpusFn>(query(nv::NvapiId::EnumPhysicalGpus));
    auto busId = reinterpret_cast<nv::NvGetBusIdFn>(query(nv::NvapiId::GetBusId));
    auto perfClocks = reinterpret_cast<nv::NvGetPerfClocksFn>(query(nv::NvapiId::GetPerfClocks));
    if (initialize == nullptr || enumerate == nullptr || busId == nullptr || perfClocks == nullptr) {
        std::printf("operation missing\n");
        return 2;
    }

    nv::NvStatus status = initialize();
    std::printf("initialize %d\n", status);
    if (status != 0) {
        return 1;
    }
    nv::NvGpuHandle handles[nv::kMaxPhysicalGpus] = {};
    std::uint32_t count = 0;
    status = enumerate(handles, &count);
    std::printf("enumerate %d count %u\n", status, count);
    if (status != 0) {
        return 1;
    }
    int result = 0;
    static nv::NvPerfClocksRecord rec;
    for (std::uint32_t i = 0; i < count && i < nv::kMaxPhysicalGpus; ++i) {
        std::uint32_t bus = 0;
        nv::NvStatus busStatus = busId(handles[i], &bus);
        rec = nv::NvPerfClocksRecord{};
        rec.version = nv::kPerfClocksVersion;
        nv::NvStatus clockStatus = perfClocks(handles[i], 0, &rec);
        std::printf("gpu %u bus %u levels %u current %u clocks", i, bus, rec.levelCount, rec.currentLevel);
        for (std::uint32_t k = 0; k < rec.entryCount && k < nv::kMaxClockEntries; ++k) {
            std::printf(" %u:%u", rec.entries[k].domainId, rec.entries[k].frequencyKHz);
        }
        std::printf("\n");
        if (busStatus != 0 || clockStatus != 0) {
            result = 1;
        }
    }
    return result;
}
