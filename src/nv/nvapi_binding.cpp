#include "nv/nvapi_binding.h"

#include <type_traits>

namespace zx::nv {

namespace {

NvStatus g_missingStatus = kMissingBeforeInit;

// One stub per signature: answers the missing-entry status and touches no
// argument.
template <class... Args>
NvStatus ZX_NVAPI_CALL missingEntry(Args...) {
    return g_missingStatus;
}

template <class Fn>
struct StubOf;
template <class... Args>
struct StubOf<NvStatus(ZX_NVAPI_CALL*)(Args...)> {
    static constexpr NvStatus(ZX_NVAPI_CALL* value)(Args...) = &missingEntry<Args...>;
};

template <class Fn>
void setStub(Fn& entry) {
    entry = StubOf<Fn>::value;
}

// One row per operation: its interface ID and where its address goes. Rows
// can be added without changing any caller.
struct InterfaceRow {
    std::uint32_t id;
    void (*store)(NvapiBinding&, void*);
};

template <auto Member>
void storeEntry(NvapiBinding& b, void* address) {
    using Fn = std::remove_reference_t<decltype(b.*Member)>;
    b.*Member = reinterpret_cast<Fn>(address);
}

constexpr InterfaceRow kInterfaceTable[] = {
    {NvapiId::EnumPhysicalGpus, &storeEntry<&NvapiBinding::enumPhysicalGpus>},
    {NvapiId::GetBusId, &storeEntry<&NvapiBinding::getBusId>},
    {NvapiId::GetPerfClocks, &storeEntry<&NvapiBinding::getPerfClocks>},
    {NvapiId::SetPerfClocks, &storeEntry<&NvapiBinding::setPerfClocks>},
    {NvapiId::GetThermalSettings, &storeEntry<&NvapiBinding::getThermalSettings>},
    {NvapiId::GetCoolerSettings, &storeEntry<&NvapiBinding::getCoolerSettings>},
    {NvapiId::SetCoolerLevels, &storeEntry<&NvapiBinding::setCoolerLevels>},
    {NvapiId::RestoreCoolerSettings, &storeEntry<&NvapiBinding::restoreCoolerSettings>},
    {NvapiId::I2cRead, &storeEntry<&NvapiBinding::i2cRead>},
    {NvapiId::I2cWrite, &storeEntry<&NvapiBinding::i2cWrite>},
    {0, nullptr},
};

NvapiBinding g_binding;

}  // namespace

NvapiBinding::NvapiBinding() {
    setStub(enumPhysicalGpus);
    setStub(getBusId);
    setStub(getPerfClocks);
    setStub(setPerfClocks);
    setStub(getThermalSettings);
    setStub(getCoolerSettings);
    setStub(setCoolerLevels);
    setStub(restoreCoolerSettings);
    setStub(i2cRead);
    setStub(i2cWrite);
}

const char* nvapiLibraryName() {
#if defined(_WIN32)
    return "nvapi.dll";
#else
    return "libnvidia-api.so.1";
#endif
}

NvapiBinding& nvapi() { return g_binding; }

std::int32_t bindNvapi(platform::Platform& os) {
    NvapiBinding& b = g_binding;
    if (b.initialised != 0) {
        return kBindOk;
    }
    if (b.library == 0) {
        b.library = os.loadLibrary(nvapiLibraryName());
    }
    if (b.library == 0) {
        b.result = kBindNoLibrary;
        return b.result;
    }
    auto query = reinterpret_cast<NvQueryInterfaceFn>(os.findSymbol(b.library, kQueryInterfaceSymbol));
    if (query == nullptr) {
        b.result = kBindNoInterface;
        return b.result;
    }
    auto initialize = reinterpret_cast<NvInitializeFn>(query(NvapiId::Initialize));
    if (initialize == nullptr || initialize() < 0) {
        b.result = kBindNoInterface;
        return b.result;
    }
    b.result = kBindOk;
    g_missingStatus = kMissingAfterInit;
    for (const InterfaceRow* row = kInterfaceTable; row->id != 0; ++row) {
        if (void* address = query(row->id)) {
            row->store(b, address);
        }
    }
    b.initialised = 1;
    return b.result;
}

void unloadNvapi(platform::Platform& os) {
    if (g_binding.library != 0) {
        os.freeLibrary(g_binding.library);
    }
    resetNvapiBinding();
}

void resetNvapiBinding() {
    g_binding = NvapiBinding{};
    g_missingStatus = kMissingBeforeInit;
}

}  // namespace zx::nv
