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

namespace {

std::string contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Global and weak symbols the 64-bit ELF file defines for dynamic linking.
std::set<std::string> definedDynamicSymbols(const std::string& file) {
    std::set<std::string> names;
    const auto* eh = reinterpret_cast<const Elf64_Ehdr*>(file.data());
    if (file.size() < sizeof(Elf64_Ehdr) || std::memcmp(eh->e_ident, ELFMAG, SELFMAG) != 0 ||
        eh->e_ident[EI_CLASS] != ELFCLASS64) {
        ADD_FAILURE() << "not a 64-bit ELF file";
        return names;
    }
    const auto* sections = reinterpret_cast<const Elf64_Shdr*>(file.data() + eh->e_shoff);
    for (int i = 0; i < eh->e_shnum; ++i) {
        if (sections[i].sh_type != SHT_DYNSYM) continue;
        const char* strings = file.data() + sections[sections[i].sh_link].sh_offset;
        const auto* syms = reinterpret_cast<const Elf64_Sym*>(file.data() + sections[i].sh_offset);
        for (std::size_t k = 0; k < sections[i].sh_size / sizeof(Elf64_Sym); ++k) {
            const unsigned bind = ELF64_ST_BIND(syms[k].st_info);
            if (syms[k].st_shndx != SHN_UNDEF && (bind == STB_GLOBAL || bind == STB_WEAK)) {
                names.insert(strings + syms[k].st_name);
            }
        }
    }
    return names;
}

TEST(SharedLibrary, ExportsExactlyTheFiftyThreeFunctionsOfTheHeader) {
    const std::string header = contents(std::string(ZX_TEST_SOURCE_DIR) + "/include/zxdisplay.h");
    const std::regex declaration(R"(ZX_API ZXStatus ZX_CALL (ZX\w+)\()");
    std::set<std::string> declared;
    for (std::sregex_iterator it(header.begin(), header.end(), declaration), end; it != end; ++it) {
        declared.insert((*it)[1]);
    }
    ASSERT_EQ(declared.size(), 53u);
    EXPECT_EQ(definedDynamicSymbols(contents(ZX_TEST_SHARED_LIBRARY)), declared);
}

}  // namespace
