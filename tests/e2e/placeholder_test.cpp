#include <gtest/gtest.h>

#include "zxdisplay.h"

TEST(Frame, AdapterInfoBeforeStartUp) {
    ZXAdapterInfoRecord info;
    info.count = 7;
    EXPECT_EQ(ZXGetAdapterInfo(&info), ZX_STATUS_NOT_INITIALISED);
    EXPECT_EQ(info.count, 0u);
}
