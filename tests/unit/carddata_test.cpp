#include "carddata/carddata.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "support/card_data.h"
#include "support/fake_platform.h"

namespace {

using namespace std::string_literals;
using zx::carddata::kBlockSize;
using zx::carddata::kMaxDataFileSize;
using zx::carddata::kPassword;

const std::string kDataPath = "/opt/host/NVVGA.DAT";
const std::string kProfilePath = "/home/tester/Documents/temp/VGA.ini";

// The tests' own RC4 (support/card_data.h), recording the size of each block.
class TestRc4Cipher final : public zx::platform::BlockCipher {
public:
    explicit TestRc4Cipher(std::vector<std::size_t>* blockSizes) : blockSizes_(blockSizes) {}
    void decryptBlock(std::uint8_t* data, std::size_t size) override {
        blockSizes_->push_back(size);
        zxtest::rc4(zxtest::kCardDataKey, sizeof zxtest::kCardDataKey, data, size);
    }

private:
    std::vector<std::size_t>* blockSizes_;
};

// Text longer than two blocks and not a whole number of them, with bytes outside ASCII.
std::string sampleProfile() {
    std::string text = "[10DE_0611_A102_7A3C]\r\n";
    for (int i = 0; text.size() < 2 * kBlockSize + 100; ++i) {
        text += "VGAInfoString" + std::to_string(i) + "=line \xB0\xE9\r\n";
    }
    return text;
}

TEST(HexDigits, PairsConvertInPlaceFirstDigitHighModulo256) {
    const struct {
        std::string text;
        std::string bytes;
    } cases[] = {
        {"00FF7f804a4A", "\x00\xFF\x7F\x80\x4A\x4A"s},
        {"4A5", "\x4A"},  // an odd last digit is ignored
        // G0: 16*16; zz: 16*35+35; Z0: 560; !!: 16*255+255; 0!: 255; !0: 4080.
        {"G0zzZ0!!0!!0", "\x00\x53\x30\xEF\xFF\xF0"s},
        // Every character next to a digit or letter range counts as 255.
        {"/:@[`{\x80\xFF", "\xEF\xEF\xEF\xEF"},
    };
    for (const auto& c : cases) {
        std::string text = c.text + '\0';
        const std::size_t n = zx::carddata::hexPairsToBytes(text.data());
        EXPECT_EQ(text.substr(0, n), c.bytes) << c.text;
    }
}

class DecodeCardData : public ::testing::Test {
protected:
    int decode() { return zx::carddata::decodeCardDataFile(kDataPath, kProfilePath, kPassword, os); }

    void useTestCipher() {
        os.cipherFactory = [this](const char* password) -> std::unique_ptr<zx::platform::BlockCipher> {
            EXPECT_STREQ(password, "53170264");
            return std::make_unique<TestRc4Cipher>(&blockSizes);
        };
    }

    zxtest::FakePlatform os;
    std::vector<std::size_t> blockSizes;
};

TEST_F(DecodeCardData, WithoutACipherTheBytesAreWrittenUndeciphered) {
    os.putFile(kDataPath, "4a4AG0!0\0" "4B4C"s);
    EXPECT_EQ(decode(), 0);
    EXPECT_EQ(os.fileText(kProfilePath), "\x4A\x4A\x00\xF0"s);
    EXPECT_EQ(os.cipherPasswords, std::vector<std::string>{"53170264"});
}

TEST_F(DecodeCardData, WithoutReadableDataTheProfileIsStillCreatedEmpty) {
    const struct {
        const char* what;
        std::string data;  // "-": none
        int result;
    } cases[] = {
        {"missing", "-", -1},
        {"above 16 MiB", std::string(kMaxDataFileSize + 1, '0'), -1},
        {"empty", "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        os.files.clear();
        if (c.data != "-") os.putFile(kDataPath, c.data);
        os.putFile(kProfilePath, "[stale]\r\nGPUVoltageStep=1\r\n");
        EXPECT_EQ(decode(), c.result);
        ASSERT_TRUE(os.hasFile(kProfilePath));
        EXPECT_EQ(os.fileText(kProfilePath), "");
    }
    EXPECT_EQ(os.lastReadMaxSize, 16u * 1024u * 1024u);
}

TEST_F(DecodeCardData, EveryBlockIsDecipheredFromTheStartOfTheKeyStream) {
    useTestCipher();
    const std::string plain = sampleProfile();
    ASSERT_GT(plain.size(), 2 * kBlockSize);
    os.putFile(kDataPath, zxtest::encodeCardData(plain));
    EXPECT_EQ(decode(), 0);
    EXPECT_EQ(os.fileText(kProfilePath), plain);
    std::vector<std::size_t> expected(plain.size() / kBlockSize, kBlockSize);
    expected.push_back(plain.size() % kBlockSize);
    EXPECT_EQ(blockSizes, expected);

    blockSizes.clear();
    os.putFile(kDataPath, zxtest::encodeCardData(plain.substr(0, 1000)));
    EXPECT_EQ(decode(), 0);
    EXPECT_EQ(blockSizes, std::vector<std::size_t>{1000});
}

TEST_F(DecodeCardData, FileFromTheAuthoringRecipeDecodes) {
    // Written by the documented Python recipe (hashlib's MD5, RC4 per block).
    useTestCipher();
    os.putFile(kDataPath, "C28406C967F9B0EEA9ECD31A438727FAE216D0ACB1DCAEE19332CD64655688B99AEDB09AB8FDAED1898555");
    EXPECT_EQ(decode(), 0);
    EXPECT_EQ(os.fileText(kProfilePath), "[10DE_0611_A102_7A3C]\r\nGPUVoltageStep=125\r\n");
}

}  // namespace
