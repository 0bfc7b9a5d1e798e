// The fault matrix: each vendor call that a clean call of an export shows in
// the simulator's log is failed, then left out of the library, on both
// backends; the export must answer 1 or 2 with zero outputs and write nothing
// after a failed read. Start-up with each call failing or absent: Hostile.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <tuple>

#include "support/in_process_machine.h"

namespace {

using namespace zxtest::inproc;

std::string joined(const std::vector<std::string>& lines) {
    std::string all;
    for (const auto& l : lines) all += "\n  " + l;
    return all;
}

// The table holds every export of the header that reaches a backend, so a
// new export cannot be left out of the matrix.
TEST(FaultMatrixTable, NamesEveryExportThatReachesABackend) {
    std::ifstream header(std::string(ZX_TEST_SOURCE_DIR) + "/include/zxdisplay.h");
    const std::string text((std::istreambuf_iterator<char>(header)), std::istreambuf_iterator<char>());
    const std::regex declaration(R"(ZX_API\s+ZXStatus\s+ZX_CALL\s+(ZX\w+)\s*\()");
    std::set<std::string> declared;
    for (std::sregex_iterator it(text.begin(), text.end(), declaration), end; it != end; ++it) {
        declared.insert((*it)[1]);
    }
    std::set<std::string> expected = {"ZXInitLib", "ZXDeInitLib", "ZXGetLockLibStatus", "ZXSetLockLibStatus",
                                      "ZXGetAdapterInfo"};  // answered by the front door alone
    for (const Export& e : exports()) {
        EXPECT_TRUE(expected.insert(e.name).second) << e.name << " twice";
    }
    EXPECT_EQ(declared, expected);
}

using Case = std::tuple<Vendor, std::size_t>;
class FaultMatrix : public ::testing::TestWithParam<Case> {};

TEST_P(FaultMatrix, EveryVendorCallFailedOrAbsentAnswersFailureWithZeroOutputs) {
    const auto [vendor, index] = GetParam();
    const Export& e = exports()[index];
    Machine m(vendor);
    ASSERT_EQ(m.start(), ZX_STATUS_OK);
    const Outcome clean = m.call(e);
    // 1 on a sound card only where the backend never asks the driver.
    ASSERT_TRUE(clean.status == ZX_STATUS_OK || clean.status == ZX_STATUS_NOT_SUPPORTED ||
                (clean.status == ZX_STATUS_FAILED && clean.log.empty()))
        << e.name << " answers " << clean.status << " on a sound card" << joined(clean.log);
    EXPECT_TRUE(clean.status == ZX_STATUS_OK || clean.outputsZero) << e.name;
    std::set<std::string> ops;
    for (const std::string& line : clean.log) {
        ops.insert(operationOf(line));
    }
    // Failure is 1, or 2 where the card lacks the feature (which a missing
    // entry point may also make it).
    auto promised = [&](ZXStatus s, bool absent) {
        return s == ZX_STATUS_FAILED ||
               (s == ZX_STATUS_NOT_SUPPORTED && (absent || clean.status == ZX_STATUS_NOT_SUPPORTED));
    };
    for (const std::string& op : ops) {
        SCOPED_TRACE(std::string(e.name) + " with " + op);
        ASSERT_EQ(m.start(), ZX_STATUS_OK);
        m.apply(faultLine(vendor, op));
        const Outcome failed = m.call(e);
        EXPECT_TRUE(promised(failed.status, false)) << "failed: answered " << failed.status << joined(failed.log);
        EXPECT_TRUE(failed.outputsZero) << "failed";
        // Nothing is written to the card after the first failed read of op.
        bool failedRead = false;
        for (const std::string& line : failed.log) {
            EXPECT_FALSE(failedRead && writesToCard(line)) << "written after a failed read: " << joined(failed.log);
            failedRead = failedRead ||
                         (operationOf(line) == op && !writesToCard(line) && line.find(" -> 0") == std::string::npos);
        }

        const ZXStatus started = m.startWithout(op);
        const Outcome absent = m.call(e);
        EXPECT_TRUE(absent.outputsZero) << "absent";
        if (started != ZX_STATUS_OK) {
            EXPECT_EQ(absent.status, ZX_STATUS_NOT_INITIALISED) << "start-up without it";
            continue;
        }
        EXPECT_TRUE(promised(absent.status, true)) << "absent: answered " << absent.status << joined(absent.log);
        for (const std::string& line : absent.log) {
            EXPECT_FALSE(!writesToCard(op + " ") && writesToCard(line)) << "written without a read: " << line;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Exports, FaultMatrix,
                         ::testing::Combine(::testing::Values(Vendor::Nvidia, Vendor::Ati),
                                            ::testing::Range<std::size_t>(0, exports().size())),
                         [](const auto& p) {
                             return std::string(std::get<0>(p.param) == Vendor::Nvidia ? "Nvidia_" : "Ati_") +
                                    (exports()[std::get<1>(p.param)].name + 2);
                         });

}  // namespace
