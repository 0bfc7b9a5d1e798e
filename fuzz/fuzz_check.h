// What a fuzz target asserts: a broken property aborts with its text, so that
// libFuzzer keeps the input and the replay program fails.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#define ZX_FUZZ_CHECK(cond)                                                                  \
    do {                                                                                     \
        if (!(cond)) {                                                                       \
            std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                    \
        }                                                                                    \
    } while (0)

namespace zxfuzz {

// Splits an input into fields at a separator byte; the last field takes the
// rest. Missing fields are empty.
template <std::size_t N>
struct Fields {
    std::string_view f[N];
};

template <std::size_t N>
Fields<N> split(std::string_view in, char sep) {
    Fields<N> out;
    for (std::size_t i = 0; i + 1 < N; ++i) {
        const std::size_t at = in.find(sep);
        if (at == std::string_view::npos) {
            out.f[i] = in;
            return out;
        }
        out.f[i] = in.substr(0, at);
        in.remove_prefix(at + 1);
    }
    out.f[N - 1] = in;
    return out;
}

// Reads little-endian numbers off the front of an input; zero once it ends.
class Reader {
public:
    Reader(const std::uint8_t* data, std::size_t size) : p_(data), n_(size) {}
    std::uint8_t byte() {
        if (n_ == 0) {
            return 0;
        }
        --n_;
        return *p_++;
    }
    std::uint32_t u32() {
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i) {
            v |= static_cast<std::uint32_t>(byte()) << (8 * i);
        }
        return v;
    }
    bool empty() const { return n_ == 0; }
    std::string_view rest() const { return {reinterpret_cast<const char*>(p_), n_}; }

private:
    const std::uint8_t* p_;
    std::size_t n_;
};

}  // namespace zxfuzz
