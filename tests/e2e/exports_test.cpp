// The shared library's dynamic symbol table, as nm reads it from the built file: it defines exactly the 53 exports that
// the public header declares.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <string>

namespace {

TEST(SharedLibrary, ExportsExactlyTheFiftyThreeFunctionsOfTheHeader) {
    std::ifstream in(std::string(ZX_TEST_SOURCE_DIR) + "/include/zxdisplay.h");
    const std::string header{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const std::regex declaration(R"(ZX_API ZXStatus ZX_CALL (ZX\w+)\()");
    std::set<std::string> declared, defined;
    for (std::sregex_iterator it(header.begin(), header.end(), declaration), end; it != end; ++it) {
        declared.insert((*it)[1]);
    }
    ASSERT_EQ(declared.size(), 53u);
    FILE* nm = ::popen("nm -D --defined-only --extern-only " ZX_TEST_SHARED_LIBRARY, "r");
    ASSERT_NE(nm, nullptr);
    char name[256];
    while (std::fscanf(nm, "%*s %*c %255s", name) == 1) defined.insert(name);
    EXPECT_EQ(::pclose(nm), 0);
    EXPECT_EQ(defined, declared);
}

}  // namespace
