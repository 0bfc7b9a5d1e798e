/* A third-party program built against an installed ZXDisplayLib. Without a
 * card it reports the start-up status by name and succeeds. */
#include <stdio.h>

#include <zxdisplay.h>

int main(void) {
    ZXAdapterInfoRecord info;
    ZXStatus status = ZXInitLib();
    printf("ZXInitLib: %s\n", ZXStatusName(status));
    ZXGetAdapterInfo(&info);
    printf("adapters: %u\n", (unsigned)info.count);
    if (status == ZX_STATUS_OK) {
        ZXDeInitLib();
    }
    return 0;
}
