// zxcarddata: writes and reads card data files.
//
//   zxcarddata encode OUT.DAT < profile.ini   enciphers a plain profile
//   zxcarddata decode IN.DAT > profile.ini    deciphers a data file
#include <cstdio>
#include <cstring>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "carddata/carddata.h"
#include "platform/platform.h"

namespace {

int usage() {
    std::fprintf(stderr, "usage: zxcarddata encode OUT.DAT < profile.ini\n"
                         "       zxcarddata decode IN.DAT > profile.ini\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        return usage();
    }
    auto& os = zx::platform::native();
    const std::string path = argv[2];
    if (std::strcmp(argv[1], "encode") == 0) {
        const std::string plain((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
        const std::string hex = zx::carddata::encodeCardData(plain, zx::carddata::kPassword, os);
        if (hex.empty() && !plain.empty()) {
            std::fprintf(stderr, "zxcarddata: no cipher available\n");
            return 1;
        }
        FILE* f = std::fopen(path.c_str(), "wb");
        if (f == nullptr || std::fwrite(hex.data(), 1, hex.size(), f) != hex.size() || std::fclose(f) != 0) {
            std::fprintf(stderr, "zxcarddata: cannot write %s\n", path.c_str());
            return 1;
        }
        return 0;
    }
    if (std::strcmp(argv[1], "decode") == 0) {
        std::vector<std::uint8_t> data;
        if (!os.readFile(path, zx::carddata::kMaxDataFileSize, data)) {
            std::fprintf(stderr, "zxcarddata: cannot read %s\n", path.c_str());
            return 1;
        }
        data.push_back(0);
        char* text = reinterpret_cast<char*>(data.data());
        const std::size_t n = zx::carddata::decipherCardData(text, zx::carddata::kPassword, os);
        std::fwrite(text, 1, n, stdout);
        return 0;
    }
    return usage();
}
