// The private-profile parser. The input is "section\nkey\nprofile bytes": the
// profile is parsed (UTF-16 when it starts with FF FE) and the section and
// key are looked up with buffers of every small size and a large one.
#include <cctype>
#include <cstring>
#include <string>

#include "fuzz_check.h"
#include "core/ini_reader.h"

namespace {

std::string flipCase(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        const auto u = static_cast<unsigned char>(c);
        if (std::isupper(u)) {
            c = static_cast<char>(std::tolower(u));
        } else if (std::islower(u)) {
            c = static_cast<char>(std::toupper(u));
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto fields = zxfuzz::split<3>({reinterpret_cast<const char*>(data), size}, '\n');
    // Names are C strings to the reader.
    const std::string section(fields.f[0].substr(0, fields.f[0].find('\0')));
    const std::string key(fields.f[1].substr(0, fields.f[1].find('\0')));
    const zx::ini::Profile profile{std::string(fields.f[2])};
    ZX_FUZZ_CHECK(profile.encoding() == zx::ini::detectEncoding(fields.f[2]));

    const auto found = profile.find(section, key);
    char big[512];
    const std::uint32_t all = profile.readString(section.c_str(), key.c_str(), big, sizeof big);
    ZX_FUZZ_CHECK(all < sizeof big && big[all] == '\0' && std::strlen(big) == all);
    if (!found) {
        ZX_FUZZ_CHECK(all == 0);
    } else if (found->size() < sizeof big) {
        ZX_FUZZ_CHECK(std::string_view(big, all) == found->substr(0, all));
        ZX_FUZZ_CHECK(found->find('\0') == std::string_view::npos ? all == found->size() : all <= found->size());
    }

    // Every buffer size cuts the same value and always terminates it.
    for (std::uint32_t n = 1; n <= 8; ++n) {
        char small[9];
        std::memset(small, 0x55, sizeof small);
        const std::uint32_t got = profile.readString(section.c_str(), key.c_str(), small, n);
        ZX_FUZZ_CHECK(got < n && small[got] == '\0');
        ZX_FUZZ_CHECK(got == (all < n - 1 ? all : n - 1));
        ZX_FUZZ_CHECK(std::memcmp(small, big, got) == 0);
        ZX_FUZZ_CHECK(static_cast<unsigned char>(small[n]) == 0x55);
    }
    char untouched = 0x55;
    ZX_FUZZ_CHECK(profile.readString(section.c_str(), key.c_str(), &untouched, 0) == 0 && untouched == 0x55);
    ZX_FUZZ_CHECK(profile.readString(nullptr, key.c_str(), big, sizeof big) == 0);
    ZX_FUZZ_CHECK(profile.readString(section.c_str(), nullptr, big, sizeof big) == 0);

    // Names compare without regard to ASCII case.
    const auto flipped = profile.find(flipCase(section), flipCase(key));
    ZX_FUZZ_CHECK(flipped.has_value() == found.has_value());
    if (found) {
        ZX_FUZZ_CHECK(*flipped == *found);
    }

    // A copy answers as the original does.
    const zx::ini::Profile copy = profile;
    const auto again = copy.find(section, key);
    ZX_FUZZ_CHECK(again.has_value() == found.has_value() && (!found || *again == *found));
    return 0;
}
