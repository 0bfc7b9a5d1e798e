// RC4 keyed from the MD5 digest of a password, with CryptoAPI.
//
// The key is asked for with an explicit length of 128 bits, so that it is
// the whole 16-byte digest whatever the default provider: the base provider
// would otherwise derive a 40-bit key (the first 5 bytes), and it cannot
// make 128-bit RC4 keys at all, so the enhanced provider is asked then. The
// Linux build derives the same key; card data files are enciphered with it.
#include <windows.h>
#include <wincrypt.h>

#include <cstring>

#include "platform/win32/win32_platform.h"

namespace zx::platform::win32 {

namespace {

constexpr DWORD kKeyBits = 128;

class Rc4Cipher final : public BlockCipher {
public:
    Rc4Cipher(HCRYPTPROV provider, HCRYPTKEY key) : provider_(provider), key_(key) {}
    ~Rc4Cipher() override {
        ::CryptDestroyKey(key_);
        ::CryptReleaseContext(provider_, 0);
    }
    Rc4Cipher(const Rc4Cipher&) = delete;
    Rc4Cipher& operator=(const Rc4Cipher&) = delete;

    void decryptBlock(std::uint8_t* data, std::size_t size) override {
        // Every block is a final block: the key stream starts afresh after
        // it, so each block is deciphered from the start of the stream.
        // Blocks are small (a thousand bytes).
        DWORD n = static_cast<DWORD>(size);
        ::CryptDecrypt(key_, 0, TRUE, 0, data, &n);
    }

private:
    HCRYPTPROV provider_;
    HCRYPTKEY key_;
};

// The 128-bit RC4 key from the MD5 digest of the password, made by provider.
HCRYPTKEY deriveKey(HCRYPTPROV provider, const char* password) {
    HCRYPTHASH hash = 0;
    if (!::CryptCreateHash(provider, CALG_MD5, 0, 0, &hash)) {
        return 0;
    }
    HCRYPTKEY key = 0;
    if (!::CryptHashData(hash, reinterpret_cast<const BYTE*>(password), static_cast<DWORD>(std::strlen(password)), 0) ||
        !::CryptDeriveKey(provider, CALG_RC4, hash, kKeyBits << 16, &key)) {
        key = 0;
    }
    ::CryptDestroyHash(hash);
    return key;
}

}  // namespace

std::unique_ptr<BlockCipher> Win32Platform::rc4FromPassword(const char* password) {
    if (password == nullptr) {
        password = "";
    }
    // The default provider of the type first, then the enhanced one by name.
    for (const char* name : {static_cast<const char*>(nullptr), MS_ENHANCED_PROV_A}) {
        HCRYPTPROV provider = 0;
        if (!::CryptAcquireContextA(&provider, nullptr, name, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
            continue;
        }
        if (const HCRYPTKEY key = deriveKey(provider, password)) {
            return std::make_unique<Rc4Cipher>(provider, key);
        }
        ::CryptReleaseContext(provider, 0);
    }
    return nullptr;
}

}  // namespace zx::platform::win32
