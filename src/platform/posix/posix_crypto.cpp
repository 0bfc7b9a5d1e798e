// RC4 keyed from the MD5 digest of a password, with nettle.
//
// The key is the whole 16-byte digest (128 bits), as the enhanced and strong
// Windows providers derive it; the base provider's 40-bit key would use only
// the first 5 bytes. Card data files must be enciphered with the same choice.
#include <nettle/arcfour.h>
#include <nettle/md5.h>
#include <nettle/version.h>

#include <array>
#include <cstring>

#include "platform/posix/posix_platform.h"

namespace zx::platform::posix {

namespace {

class Rc4Cipher final : public BlockCipher {
public:
    explicit Rc4Cipher(const std::array<std::uint8_t, MD5_DIGEST_SIZE>& key) : key_(key) {}

    void decryptBlock(std::uint8_t* data, std::size_t size) override {
        // Keyed afresh, so every block is deciphered from the start of the
        // key stream.
        arcfour_ctx ctx;
        arcfour_set_key(&ctx, key_.size(), key_.data());
        arcfour_crypt(&ctx, size, data, data);
    }

private:
    std::array<std::uint8_t, MD5_DIGEST_SIZE> key_;
};

}  // namespace

std::unique_ptr<BlockCipher> PosixPlatform::rc4FromPassword(const char* password) {
    if (password == nullptr) {
        password = "";
    }
    md5_ctx md5;
    md5_init(&md5);
    md5_update(&md5, std::strlen(password), reinterpret_cast<const std::uint8_t*>(password));
    std::array<std::uint8_t, MD5_DIGEST_SIZE> digest {};
#if NETTLE_VERSION_MAJOR >= 4
    md5_digest(&md5, digest.data());
#else
    md5_digest(&md5, digest.size(), digest.data());
#endif
    return std::make_unique<Rc4Cipher>(digest);
}

}  // namespace zx::platform::posix
