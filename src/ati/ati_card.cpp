#include "ati/ati_card.h"

#include "ati/ati_binding.h"

namespace zx::ati {

bool readOdParameters(PciLocation* location, AtiOdParameters& od) {
    const AtiBinding& b = atiBinding();
    if (b.getOdParameters == nullptr) {
        return false;
    }
    od = AtiOdParameters{};
    od.size = sizeof(AtiOdParameters);
    if (b.getOdParameters(b.adapterIndex, &od, location) != 0) {
        return false;
    }
    return od.levelCount >= 0 && od.levelCount <= kMaxLibraryLevels;
}

bool readLevels(PciLocation* location, const AtiOdParameters& od, bool defaults, LevelTable& table) {
    const AtiBinding& b = atiBinding();
    if (b.getOdPerformanceLevels == nullptr) {
        return false;
    }
    table = LevelTable{};
    table.count = static_cast<std::uint32_t>(od.levelCount);
    table.header.size = static_cast<std::int32_t>(sizeof(AtiOdPerformanceLevels) +
                                                  sizeof(AtiOdPerformanceLevel) * table.count);
    return b.getOdPerformanceLevels(b.adapterIndex, &table.header, defaults ? 1 : 0, location) == 0;
}

bool writeLevels(PciLocation* location, LevelTable& table) {
    const AtiBinding& b = atiBinding();
    return b.setOdPerformanceLevels != nullptr && b.setOdPerformanceLevels(b.adapterIndex, &table.header, location) == 0;
}

bool readActivity(PciLocation* location, AtiPmActivity& activity) {
    const AtiBinding& b = atiBinding();
    activity = AtiPmActivity{};
    activity.size = sizeof activity;
    return location != nullptr && b.getPmCurrentActivity != nullptr &&
           b.getPmCurrentActivity(b.adapterIndex, &activity, location) == 0;
}

}  // namespace zx::ati
