// The shared library's dynamic symbol table, read from the built file: it
// defines exactly the 53 exports that the public header declares.
#include <elf.h>
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

std::set<std::string> definedDynamicSymbols(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (file.size() < sizeof(Elf64_Ehdr)) {
        ADD_FAILURE() << "cannot read " << path;
        return {};
    }
    const auto* eh = reinterpret_cast<const Elf64_Ehdr*>(file.data());
    if (std::memcmp(eh->e_ident, ELFMAG, SELFMAG) != 0 || eh->e_ident[EI_CLASS] != ELFCLASS64) {
        ADD_FAILURE() << path << " is not a 64-bit ELF file";
        return {};
    }
    const auto* sections = reinterpret_cast<const Elf64_Shdr*>(file.data() + eh->e_shoff);
    std::set<std::string> names;
    for (int i = 0; i < eh->e_shnum; ++i) {
        if (sections[i].sh_type != SHT_DYNSYM) {
            continue;
        }
        const Elf64_Shdr& strtab = sections[sections[i].sh_link];
        const auto* syms = reinterpret_cast<const Elf64_Sym*>(file.data() + sections[i].sh_offset);
        const std::size_t count = sections[i].sh_size / sizeof(Elf64_Sym);
        for (std::size_t k = 0; k < count; ++k) {
            const Elf64_Sym& s = syms[k];
            const unsigned bind = ELF64_ST_BIND(s.st_info);
            if (s.st_shndx == SHN_UNDEF || (bind != STB_GLOBAL && bind != STB_WEAK)) {
                continue;
            }
            names.insert(file.data() + strtab.sh_offset + s.st_name);
        }
    }
    return names;
}

// The exports the public header declares.
std::set<std::string> declaredExports() {
    std::ifstream in(std::string(ZX_TEST_SOURCE_DIR) + "/include/zxdisplay.h");
    const std::string header((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::regex declaration(R"(ZX_API ZXStatus ZX_CALL (ZX\w+)\()");
    std::set<std::string> names;
    for (std::sregex_iterator it(header.begin(), header.end(), declaration), end; it != end; ++it) {
        names.insert((*it)[1]);
    }
    return names;
}

TEST(SharedLibrary, ExportsExactlyTheFiftyThreeFunctionsOfTheHeader) {
    const auto exports = declaredExports();
    ASSERT_EQ(exports.size(), 53u);
    EXPECT_EQ(definedDynamicSymbols(ZX_TEST_SHARED_LIBRARY), exports);
}

}  // namespace
