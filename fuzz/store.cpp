// The per-user store: a sequence of operations from the input, each checked
// against a model of the registry's rules (names compare without regard to
// ASCII case, creating a key creates the keys above it, the root key always
// exists, a value keeps its type and bytes, a short buffer is left untouched
// and told the size needed). Each input starts from an empty store in a
// temporary config folder.
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "platform/posix/posix_platform.h"

namespace posix = zx::platform::posix;
using zx::platform::StoreResult;

namespace {

constexpr int kMaxOperations = 24;

const std::string& configRoot() {
    static const std::string root = [] {
        const char* shm = "/dev/shm";
        std::string pattern = std::string(::access(shm, W_OK) == 0 ? shm : "/tmp") + "/zxfuzz-store-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        ::setenv("XDG_CONFIG_HOME", pattern.c_str(), 1);
        std::atexit([] { std::filesystem::remove_all(std::getenv("XDG_CONFIG_HOME")); });
        return pattern;
    }();
    return root;
}

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// A key path of up to three segments, with stray backslashes around them.
std::string keyPath(zxfuzz::Reader& r) {
    static const char* const kSegments[] = {"Software", "SOFTWARE", "Card", "x y", "a", "A", "10DE_0622", "\xc3\xa9"};
    const std::uint8_t b = r.byte();
    std::string path = (b & 0x80) ? "\\" : "";
    const unsigned count = b & 3;
    for (unsigned i = 0; i < count; ++i) {
        const std::uint8_t s = r.byte();
        if (i > 0) path += (s & 0x80) ? "\\\\" : "\\";
        path += kSegments[s & 7];
    }
    if (b & 0x40) path += "\\";
    return path;
}

std::string valueName(zxfuzz::Reader& r) {
    static const char* const kNames[] = {"", "V", "v", "GPUVoltageStart", "gpuvoltagestart", "a b", "\\", "x"};
    return kNames[r.byte() & 7];
}

struct Value {
    std::uint32_t type;
    std::vector<std::uint8_t> data;
};

struct Model {
    std::set<std::string> keys;                         // normalised, lower case
    std::map<std::pair<std::string, std::string>, Value> values;

    static std::string norm(const std::string& path) { return lower(zx::platform::normaliseKeyPath(path)); }
    bool exists(const std::string& path) const {
        const std::string p = norm(path);
        return p.empty() || keys.count(p) != 0;
    }
    void create(const std::string& path) {
        const std::string p = norm(path);
        std::size_t end = 0;
        do {
            end = p.find('\\', end + 1);
            keys.insert(p.substr(0, end));
        } while (end != std::string::npos);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::filesystem::remove_all(configRoot() + "/zxdisplaylib");
    zxfuzz::Reader r(data, size);
    Model model;
    for (int op = 0; op < kMaxOperations && !r.empty(); ++op) {
        const std::uint8_t kind = r.byte() & 3;
        const std::string path = keyPath(r);
        switch (kind) {
        case 0:
            ZX_FUZZ_CHECK(zx::platform::native().storeCreateKey(path));
            model.create(path);
            break;
        case 1:
            ZX_FUZZ_CHECK(zx::platform::native().storeKeyExists(path) == model.exists(path));
            break;
        case 2: {
            const std::string name = valueName(r);
            const std::uint32_t type = r.byte() & 3;
            std::vector<std::uint8_t> bytes(r.byte() & 63);
            for (auto& b : bytes) b = r.byte();
            ZX_FUZZ_CHECK(zx::platform::native().storeSet(path, name.c_str(), type, bytes.data(), static_cast<std::uint32_t>(bytes.size())));
            model.create(path);
            model.values[{Model::norm(path), lower(name)}] = Value{type, bytes};
            break;
        }
        default: {
            const std::string name = valueName(r);
            const std::uint32_t capacity = r.byte() & 63;
            std::uint8_t buf[64];
            std::memset(buf, 0xA5, sizeof buf);
            std::uint32_t type = 0xFFFFFFFF;
            std::uint32_t got = capacity;
            const StoreResult res = zx::platform::native().storeQuery(path, name.c_str(), &type, buf, &got);
            const auto it = model.values.find({Model::norm(path), lower(name)});
            if (!model.exists(path)) {
                ZX_FUZZ_CHECK(res == StoreResult::KeyNotFound);
            } else if (it == model.values.end()) {
                ZX_FUZZ_CHECK(res == StoreResult::ValueNotFound);
            } else if (it->second.data.size() > capacity) {
                ZX_FUZZ_CHECK(res == StoreResult::BufferTooSmall && got == it->second.data.size());
                ZX_FUZZ_CHECK(buf[0] == 0xA5);
            } else {
                ZX_FUZZ_CHECK(res == StoreResult::Ok && type == it->second.type && got == it->second.data.size());
                ZX_FUZZ_CHECK((got == 0 || std::memcmp(buf, it->second.data.data(), got) == 0) && buf[got] == 0xA5);
            }
            break;
        }
        }
    }
    return 0;
}
