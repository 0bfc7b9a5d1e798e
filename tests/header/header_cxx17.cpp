// The public header on its own, as a C++17 caller includes it.
#include "zxdisplay.h"

static_assert(sizeof(ZXAdapterInfoRecord) == 112);
static_assert(offsetof(ZXAdapterInfoRecord, location) == 76);

int zxHeaderCxx17Probe() {
    ZXStatus (ZX_CALL *fan)(uint32_t, uint32_t, uint32_t, uint32_t) = ZXSetFanSpeed;
    return fan != nullptr ? 1 : 0;
}
