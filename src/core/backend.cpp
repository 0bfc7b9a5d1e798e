#include "core/backend.h"

namespace zx {

StatusCode notSupported() { return StatusCode::NotSupported; }

StatusCode notSupportedRange(RangeInfo* range) {
    *range = RangeInfo{};
    return StatusCode::NotSupported;
}

StatusCode notSupportedLevels(LevelValues* values) {
    *values = LevelValues{};
    return StatusCode::NotSupported;
}

}  // namespace zx
