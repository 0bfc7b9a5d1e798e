/* The public header on its own, as a C99 caller includes it. */
#include "zxdisplay.h"

int zx_header_c99_probe(void);
int zx_header_c99_probe(void) {
    ZXAdapterInfoRecord info;
    ZXRangeInfo range;
    ZXLevelValues levels;
    ZXVgaInfoDescription desc;
    ZXStatus (ZX_CALL *init)(void) = ZXInitLib;
    (void)info;
    (void)range;
    (void)levels;
    (void)desc;
    return init != 0 && ZX_STATUS_ADAPTER_MISMATCH == 5u;
}
