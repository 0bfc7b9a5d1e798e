#include "ati/ati_binding.h"

#include <type_traits>

namespace zx::ati {

namespace {

AtiBinding g_binding;

template <auto Member>
void storeEntry(AtiBinding& b, void* address) {
    using Fn = std::remove_reference_t<decltype(b.*Member)>;
    b.*Member = reinterpret_cast<Fn>(address);
}

struct EntryRow {
    const char* name;
    void (*store)(AtiBinding&, void*);
};

// Resolved in this order; a name that does not resolve stays absent.
constexpr EntryRow kEntries[] = {
    {"ATIDL_GetODParameters", &storeEntry<&AtiBinding::getOdParameters>},
    {"ATIDL_GetPMCurrentActivity", &storeEntry<&AtiBinding::getPmCurrentActivity>},
    {"ATIDL_GetODPerformanceLevels", &storeEntry<&AtiBinding::getOdPerformanceLevels>},
    {"ATIDL_SetODPerformanceLevels", &storeEntry<&AtiBinding::setOdPerformanceLevels>},
    {"ATIDL_GetTemperature", &storeEntry<&AtiBinding::getTemperature>},
    {"ATIDL_WriteAndReadI2C", &storeEntry<&AtiBinding::writeAndReadI2c>},
    {"ATIDL_WriteAndReadI2CEx", &storeEntry<&AtiBinding::writeAndReadI2cEx>},
    {"ATIDL_GetAdapterID", &storeEntry<&AtiBinding::getAdapterId>},
    {"ATIDL_GetFanSpeedInfo", &storeEntry<&AtiBinding::getFanSpeedInfo>},
    {"ATIDL_GetFanSpeed", &storeEntry<&AtiBinding::getFanSpeed>},
    {"ATIDL_SetFanSpeed", &storeEntry<&AtiBinding::setFanSpeed>},
    {"ATIDL_SetFanSpeedToDefault", &storeEntry<&AtiBinding::setFanSpeedToDefault>},
};

// The first display device attached to the desktop that the library accepts
// as one of its adapters; -1 when none.
std::int32_t findAdapterIndex(const AtiBinding& b, platform::Platform& os) {
    if (b.getAdapterId == nullptr) {
        return -1;
    }
    platform::DisplayDevice device;
    for (std::uint32_t index = 0; index <= 0x7FFFFFFFu && os.displayDevice(index, device); ++index) {
        if (!device.attachedToDesktop) {
            continue;
        }
        const platform::NativeHandle context = os.createDeviceContext(device.name);
        if (context == 0) {
            continue;
        }
        int id = 0;
        const int result = b.getAdapterId(static_cast<int>(index), &id);
        os.deleteDeviceContext(context);
        if (result == 0 && id != 0) {
            return static_cast<std::int32_t>(index);
        }
    }
    return -1;
}

}  // namespace

const char* atiLibraryName() {
#if defined(_WIN32)
    return "atipdlxx.dll";
#else
    return "libatipdlxx.so";
#endif
}

const char* atiLibraryFallbackName() {
#if defined(_WIN32)
    return "atipdlxx32.dll";
#else
    return "libatipdlxx32.so";
#endif
}

AtiBinding& atiBinding() { return g_binding; }

StatusCode bindAti(const AdapterTable& table, platform::Platform& os) {
    unbindAti(os);
    AtiBinding& b = g_binding;
    b.library = os.loadLibrary(atiLibraryName());
    if (b.library == 0) {
        b.library = os.loadLibrary(atiLibraryFallbackName());
    }
    if (b.library == 0) {
        return StatusCode::Failed;
    }
    for (const EntryRow& row : kEntries) {
        if (void* address = os.findSymbol(b.library, row.name)) {
            row.store(b, address);
        }
    }
    b.adapterIndex = findAdapterIndex(b, os);
    if (b.adapterIndex < 0) {
        // The library stays loaded; unbinding releases it.
        return StatusCode::Failed;
    }
    b.gpuCount = table.count < kMaxAdapters ? table.count : kMaxAdapters;
    for (std::uint32_t i = 0; i < kMaxAdapters; ++i) {
        b.locations[i] = table.location[i];
    }
    return StatusCode::Ok;
}

StatusCode unbindAti(platform::Platform& os) {
    if (g_binding.library != 0) {
        os.freeLibrary(g_binding.library);
    }
    g_binding = AtiBinding{};
    return StatusCode::Ok;
}

PciLocation* gpuLocation(std::uint32_t gpu) {
    AtiBinding& b = g_binding;
    return gpu < b.gpuCount ? &b.locations[gpu] : nullptr;
}

}  // namespace zx::ati
