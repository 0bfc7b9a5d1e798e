// Card data decoding followed by every lookup of both backends' profile
// readers. The first byte chooses the cipher: odd deciphers with RC4 as a
// real data file is, even leaves the bytes as the hexadecimal text gives them,
// so that the fuzzer can write profile text directly. The rest is the data
// file's text.
#include <cstring>
#include <string>
#include <vector>

#include "ati/ati_profile.h"
#include "carddata/carddata.h"
#include "fuzz_check.h"
#include "nv/nv_backend.h"
#include "nv/nv_state.h"
#include "core/ini_reader.h"
#include "platform/platform.h"
#include "support/fake_platform.h"

namespace {

// Card ids the lookups use: a real one, the empty one and one of odd bytes.
const char* const kCardIds[] = {"10DE_0622_B111_7A3C", "1002_9440_0502_174B", "", "[]=;\x7f"};

void checkDescriptions(std::uint32_t count, const char (*rows)[zx::kDescriptionSize]) {
    ZX_FUZZ_CHECK(count <= zx::kMaxDescriptions);
    for (std::uint32_t i = 0; i < zx::kMaxDescriptions; ++i) {
        ZX_FUZZ_CHECK(std::memchr(rows[i], 0, zx::kDescriptionSize) != nullptr);
        ZX_FUZZ_CHECK((i < count) == (rows[i][0] != '\0'));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const bool decipher = (data[0] & 1) != 0;
    std::vector<char> text(data + 1, data + size);
    text.push_back('\0');
    const std::size_t textLength = std::strlen(text.data());

    zxtest::FakePlatform fake;
    zx::platform::Platform& cipherSource = decipher ? zx::platform::native() : static_cast<zx::platform::Platform&>(fake);
    const std::size_t n = zx::carddata::decipherCardData(text.data(), zx::carddata::kPassword, cipherSource);
    ZX_FUZZ_CHECK(n == textLength / 2);

    const zx::ini::Profile profile(std::string(text.data(), n));
    zx::platform::setPlatform(&fake);
    zx::nv::NvState& nv = zx::nv::nvState();
    for (const char* cardId : kCardIds) {
        // A plain card and a registry-voltage card, whose reader also seeds
        // the store from the profile.
        for (int registry = 0; registry < 2; ++registry) {
            nv.regulatorKind = registry ? zx::nv::RegulatorKind::RegistryVoltage : zx::nv::RegulatorKind::None;
            std::snprintf(nv.cardRegistryKey, sizeof nv.cardRegistryKey, "%s", registry ? "Software\\Card" : "");
            ZX_FUZZ_CHECK(zx::nv::NvBackend::instance().readProfile(cardId, profile) == zx::StatusCode::Ok);
            checkDescriptions(nv.profile.descriptionCount, nv.profile.descriptions);
        }
        zx::ati::readAtiProfile(cardId, profile);
        const zx::ati::AtiCardProfile& ati = zx::ati::atiProfile();
        checkDescriptions(ati.descriptionCount, ati.descriptions);
    }
    nv.regulatorKind = zx::nv::RegulatorKind::None;
    nv.cardRegistryKey[0] = '\0';
    zx::platform::setPlatform(nullptr);
    return 0;
}
