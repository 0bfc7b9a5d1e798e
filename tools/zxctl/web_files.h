// The dashboard's files, embedded at build time (tools/zxctl/embed.cmake).
#pragma once

#include <cstddef>

namespace zxctl {

struct WebFile {
    const char* path;  // "/index.html"
    const char* type;  // Content-Type
    const unsigned char* data;
    std::size_t size;
};

extern const WebFile kWebFiles[];
extern const std::size_t kWebFileCount;

}  // namespace zxctl
