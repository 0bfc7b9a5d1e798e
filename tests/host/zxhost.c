/* Placeholder host: reports the adapter table. */
#include <stdio.h>
#include "zxdisplay.h"

int main(void) {
    ZXAdapterInfoRecord info;
    ZXStatus s = ZXGetAdapterInfo(&info);
    printf("ZXGetAdapterInfo %u count=%u\n", (unsigned)s, (unsigned)info.count);
    return 0;
}
