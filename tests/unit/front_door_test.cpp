// Every dispatched export forwards its arguments unchanged, in order, to the
// chosen backend and hands back the backend's answer; getters clear their
// outputs first (without a vendor: the Hostile/*LibraryAbsent cases).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "core/backend.h"
#include "support/forwarding_backend.h"
#include "api/state.h"
#include "support/in_process_machine.h"
#include "zxdisplay.h"

namespace {

using zx::LevelValues;
using zx::RangeInfo;
using zx::StatusCode;
using zx::VgaInfoDescription;
using U = std::uint32_t;

// Whether the parts of an output that the front doors clear are 0.
template <class T>
bool cleared(const T* output) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(output);
    return std::all_of(bytes, bytes + sizeof(T), [](std::uint8_t b) { return b == 0; });
}
bool cleared(const VgaInfoDescription* d) {
    return d->count == 0 && std::all_of(std::begin(d->strings), std::end(d->strings), [](auto& s) { return s[0] == 0; });
}

// Records each call as "name(arguments)", an output as "*", and whether every
// output arrived cleared.
class RecordingBackend final : public zxtest::ForwardingBackend<RecordingBackend> {
public:
    std::vector<std::string> calls;
    StatusCode answer = StatusCode::Ok;
    bool outputsWereClear = true;
    bool throws = false;

    template <class... Args>
    StatusCode respond(const char* name, Args... args) {
        if (throws) {
            throw std::bad_alloc();
        }
        std::string call = std::string(name) + "(";
        const char* separator = "";
        ((call += separator, call += text(args), separator = ","), ...);
        calls.push_back(call + ")");
        return answer;
    }

private:
    static std::string text(U value) { return std::to_string(value); }
    template <class T>
    std::string text(T* output) {
        outputsWereClear &= cleared(output);
        return "*";
    }
};

using zxtest::inproc::Export;
using zxtest::inproc::exports;

// Backend calls are spelled as the export without "ZX", case aside.
std::string lowered(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

class FrontDoorTest : public ::testing::Test {
protected:
    void SetUp() override { zx::overrideBackendsForTesting(&ati, &nv); }
    void TearDown() override {
        zx::overrideBackendsForTesting(nullptr, nullptr);
        zx::state().vendorKind = zx::VendorKind::None;
    }
    RecordingBackend ati;
    RecordingBackend nv;
    alignas(8) std::uint8_t out[512];
};

TEST_F(FrontDoorTest, EveryExportReachesTheChosenBackendWithItsArgumentsInOrder) {
    struct Case {
        zx::VendorKind kind;
        RecordingBackend* target;
        RecordingBackend* other;
        StatusCode answer;
    };
    // Kind 1 is ATI; every other non-zero kind is served by the NVIDIA backend.
    for (const Case c : {Case{zx::VendorKind::Ati, &ati, &nv, StatusCode::Failed},
                          Case{zx::VendorKind::Nvidia, &nv, &ati, StatusCode::Ok},
                          Case{static_cast<zx::VendorKind>(7), &nv, &ati, StatusCode::NotSupported}}) {
        zx::state().vendorKind = c.kind;
        c.target->answer = c.answer;
        ati.calls.clear();
        nv.calls.clear();
        for (const Export& plain : exports()) {
            const Export e = plain.with({11, 22, 33, 44});  // values told apart
            SCOPED_TRACE(e.name);
            c.target->calls.clear();
            std::memset(out, 0xAA, sizeof out);
            EXPECT_EQ(e.call(out), static_cast<ZXStatus>(c.answer));
            ASSERT_EQ(c.target->calls.size(), 1u);
            EXPECT_EQ(lowered(c.target->calls[0]), lowered(std::string(e.name + 2) + "(" + e.args + ")"));
            EXPECT_TRUE(c.other->calls.empty());
        }
        EXPECT_TRUE(c.target->outputsWereClear);
    }
}

// No exception crosses the C interface: an operation that throws answers 1.
TEST_F(FrontDoorTest, AnExceptionInAnOperationAnswersFailed) {
    zx::state().vendorKind = zx::VendorKind::Nvidia;
    nv.throws = true;
    for (const Export& e : exports()) {
        EXPECT_EQ(e.call(out), ZX_STATUS_FAILED) << e.name;
    }
}

TEST(FrameBeforeStartUp, LibraryExportsAnswerNotInitialised) {
    std::uint32_t status = 0xAAAAAAAA;
    EXPECT_EQ(ZXGetLockLibStatus(&status), ZX_STATUS_NOT_INITIALISED);
    EXPECT_EQ(status, 0xAAAAAAAAu);  // not written
    EXPECT_EQ(ZXSetLockLibStatus(1), ZX_STATUS_NOT_INITIALISED);
    EXPECT_EQ(ZXSetLockLibStatus(0), ZX_STATUS_NOT_INITIALISED);
    EXPECT_EQ(ZXDeInitLib(), ZX_STATUS_NOT_INITIALISED);

    ZXAdapterInfoRecord info;
    std::memset(&info, 0xAA, sizeof info);
    EXPECT_EQ(ZXGetAdapterInfo(&info), ZX_STATUS_NOT_INITIALISED);
    ZXAdapterInfoRecord expected;
    std::memset(&expected, 0xAA, sizeof expected);
    // Count, kinds and locations are cleared; the string columns are not.
    expected.count = 0;
    std::memset(expected.kind, 0, sizeof expected.kind);
    std::memset(expected.location, 0, sizeof expected.location);
    EXPECT_EQ(std::memcmp(&info, &expected, sizeof info), 0);
}

}  // namespace
