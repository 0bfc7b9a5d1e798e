// Loading libraries by bare name through the system's search.
#include <gtest/gtest.h>

#include "platform/platform.h"

namespace {

zx::platform::Platform& os() { return zx::platform::native(); }

TEST(PlatformDynload, LoadsBySonameAndResolvesSymbols) {
    const auto lib = os().loadLibrary("libm.so.6");
    ASSERT_NE(lib, 0);
    using Fn = double (*)(double);
    const auto fabsFn = reinterpret_cast<Fn>(os().findSymbol(lib, "fabs"));
    ASSERT_NE(fabsFn, nullptr);
    EXPECT_EQ(fabsFn(-2.5), 2.5);
    EXPECT_EQ(os().findSymbol(lib, "ZXNoSuchEntryPoint"), nullptr);
    os().freeLibrary(lib);
}

TEST(PlatformDynload, MissingLibraryGivesNoHandle) {
    EXPECT_EQ(os().loadLibrary("libzx-no-such-library.so"), 0);
    EXPECT_EQ(os().loadLibrary(""), 0) << "an empty name must not hand back the main program";
    EXPECT_EQ(os().findSymbol(0, "fabs"), nullptr);
    os().freeLibrary(0);
}

}  // namespace
