// The caller's records have one layout on every build: callers pass storage
// of exactly these sizes, whatever language or compiler made them.
#include <cstddef>

#include "zxdisplay.h"

static_assert(sizeof(ZXPciLocation) == 12);
static_assert(sizeof(ZXAdapterInfoRecord) == 112);
static_assert(offsetof(ZXAdapterInfoRecord, kind) == 4);
static_assert(offsetof(ZXAdapterInfoRecord, vendorId) == 16);
static_assert(offsetof(ZXAdapterInfoRecord, deviceId) == 31);
static_assert(offsetof(ZXAdapterInfoRecord, subsystemId) == 46);
static_assert(offsetof(ZXAdapterInfoRecord, subsystemVendorId) == 61);
static_assert(offsetof(ZXAdapterInfoRecord, location) == 76);
static_assert(sizeof(ZXRangeInfo) == 12);
static_assert(offsetof(ZXRangeInfo, minimum) == 4 && offsetof(ZXRangeInfo, step) == 8);
static_assert(sizeof(ZXLevelValues) == 20);
static_assert(offsetof(ZXLevelValues, values) == 4);
static_assert(sizeof(ZXVgaInfoDescription) == 404);
static_assert(offsetof(ZXVgaInfoDescription, strings) == 4);
