// Loading libraries by bare name through the system's search.
#include <gtest/gtest.h>

#include "platform/platform.h"

namespace {

TEST(PlatformDynload, LoadsBySonameAndResolvesSymbolsOnly) {
    auto& os = zx::platform::native();
    const auto lib = os.loadLibrary("libm.so.6");
    ASSERT_NE(lib, 0);
    const auto fabsFn = reinterpret_cast<double (*)(double)>(os.findSymbol(lib, "fabs"));
    ASSERT_NE(fabsFn, nullptr);
    EXPECT_EQ(fabsFn(-2.5), 2.5);
    EXPECT_EQ(os.findSymbol(lib, "ZXNoSuchEntryPoint"), nullptr);
    os.freeLibrary(lib);

    EXPECT_EQ(os.loadLibrary("libzx-no-such-library.so"), 0);
    EXPECT_EQ(os.loadLibrary(""), 0) << "an empty name must not hand back the main program";
    EXPECT_EQ(os.findSymbol(0, "fabs"), nullptr);
}

}  // namespace
