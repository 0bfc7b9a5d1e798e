// The fault matrix: every export on both backends, and every vendor call that
// export makes, failed in turn by the simulator. The calls are not listed by
// hand: a clean call of the export shows them in the simulator's log, and each
// is then failed (a non-zero status; for ATI I2C every path, adapter index and
// speed at once) and, separately, left out of the library (an absent entry
// point). The export must answer 1 or 2 with its outputs zero and, after a
// failed read, write nothing more to the card. Start-up is failed the same
// way: library absent, initialisation failing, each entry point absent.
//
// Everything runs in this process: the library's exports from the static
// library on an in-memory platform whose vendor library hands out the
// simulator's own entry points.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "support/in_process_machine.h"
#include "zxdisplay.h"

namespace {

using namespace zxtest::inproc;

// What one call of an export did.
struct Outcome {
    ZXStatus status = 0;
    bool outputsZero = true;
    std::vector<std::string> log;
};

Outcome callExport(Machine& m, const Export& e) {
    std::uint8_t out[512];
    std::memset(out, 0xAA, sizeof out);
    m.clearLog();
    Outcome r;
    r.status = e.call(out);
    // The NVAPI simulator's "Regulator ..." lines note the card's state, not calls.
    for (const std::string& line : m.log()) {
        if (line.rfind("Regulator ", 0) != 0) {
            r.log.push_back(line);
        }
    }
    if (std::string(e.name) == "ZXGetVGAInfoDescription") {
        // Cleared are the count and the first byte of each string.
        const auto* d = reinterpret_cast<const ZXVgaInfoDescription*>(out);
        r.outputsZero = d->count == 0;
        for (const auto& row : d->strings) {
            r.outputsZero = r.outputsZero && row[0] == '\0';
        }
    } else {
        for (std::size_t i = 0; i < e.outSize; ++i) {
            r.outputsZero = r.outputsZero && out[i] == 0;
        }
    }
    return r;
}

std::string joined(const std::vector<std::string>& lines) {
    std::string all;
    for (const auto& l : lines) all += "\n  " + l;
    return all;
}

// The card is not written after the first failed call of op when op reads.
void expectNoWriteAfterFailedRead(const Outcome& r, const std::string& op) {
    bool failedRead = false;
    for (const std::string& line : r.log) {
        if (failedRead) {
            EXPECT_FALSE(writesToCard(line)) << "written after a failed read: " << line << joined(r.log);
        } else if (operationOf(line) == op && !writesToCard(line) && line.find(" -> 0") == std::string::npos) {
            failedRead = true;
        }
    }
}

// The table holds every export of the header that reaches a backend, so a
// new export cannot be left out of the matrix.
TEST(FaultMatrixTable, NamesEveryExportThatReachesABackend) {
    std::ifstream header(std::string(ZX_TEST_SOURCE_DIR) + "/include/zxdisplay.h");
    const std::string text((std::istreambuf_iterator<char>(header)), std::istreambuf_iterator<char>());
    const std::set<std::string> frontDoorOnly = {"ZXInitLib", "ZXDeInitLib", "ZXGetLockLibStatus",
                                                 "ZXSetLockLibStatus", "ZXGetAdapterInfo"};
    std::set<std::string> inTable;
    for (const Export& e : exports()) {
        inTable.insert(e.name);
    }
    const std::regex declaration(R"(ZX_API\s+ZXStatus\s+ZX_CALL\s+(ZX\w+)\s*\()");
    std::size_t declared = 0;
    for (std::sregex_iterator it(text.begin(), text.end(), declaration), end; it != end; ++it) {
        const std::string name = (*it)[1];
        ++declared;
        EXPECT_TRUE(inTable.count(name) != 0 || frontDoorOnly.count(name) != 0) << name << " is not in the matrix";
    }
    EXPECT_EQ(declared, inTable.size() + frontDoorOnly.size());
}

using Case = std::tuple<Vendor, std::size_t>;

class FaultMatrix : public ::testing::TestWithParam<Case> {};

TEST_P(FaultMatrix, EveryVendorCallFailedOrAbsentAnswersFailureWithZeroOutputs) {
    const auto [vendor, index] = GetParam();
    const Export& e = exports()[index];
    Machine m(vendor);
    ASSERT_EQ(m.start(), ZX_STATUS_OK);
    const Outcome clean = callExport(m, e);
    // 1 on a sound card only where the backend never asks the driver.
    ASSERT_TRUE(clean.status == ZX_STATUS_OK || clean.status == ZX_STATUS_NOT_SUPPORTED ||
                (clean.status == ZX_STATUS_FAILED && clean.log.empty()))
        << e.name << " answers " << clean.status << " on a sound card" << joined(clean.log);
    EXPECT_TRUE(clean.status == ZX_STATUS_OK || clean.outputsZero) << e.name;
    std::set<std::string> ops;
    for (const std::string& line : clean.log) {
        ops.insert(operationOf(line));
    }
    // Where the card lacks the feature, 2 stays the answer.
    auto promised = [&](ZXStatus s) {
        return s == ZX_STATUS_FAILED || (s == ZX_STATUS_NOT_SUPPORTED && clean.status == ZX_STATUS_NOT_SUPPORTED);
    };
    for (const std::string& op : ops) {
        SCOPED_TRACE(std::string(e.name) + " with " + op);
        // The call fails.
        ASSERT_EQ(m.start(), ZX_STATUS_OK);
        m.apply(m.faultLine(op));
        const Outcome failed = callExport(m, e);
        EXPECT_TRUE(promised(failed.status)) << "failed " << op << ": answered " << failed.status << joined(failed.log);
        EXPECT_TRUE(failed.outputsZero) << "failed " << op;
        expectNoWriteAfterFailedRead(failed, op);

        // The entry point is absent.
        ZXStatus started = 0;
        if (vendor == Vendor::Nvidia) {
            started = m.start("missing op=" + op + "\n");
        } else {
            m.offerAllBut(op);
            started = m.start();
            m.offerAllBut("");
        }
        const Outcome absent = callExport(m, e);
        if (started != ZX_STATUS_OK) {
            EXPECT_EQ(absent.status, ZX_STATUS_NOT_INITIALISED) << "start-up without " << op;
        } else {
            // A missing entry point may also make the card lack the feature.
            EXPECT_TRUE(promised(absent.status) || absent.status == ZX_STATUS_NOT_SUPPORTED) << "without " << op << ": answered " << absent.status
                                                 << joined(absent.log);
            if (!writesToCard(op + " ")) {
                for (const std::string& line : absent.log) {
                    EXPECT_FALSE(writesToCard(line)) << "written without " << op << ": " << line;
                }
            }
        }
        EXPECT_TRUE(absent.outputsZero) << "without " << op;
    }
}

std::string caseName(const ::testing::TestParamInfo<Case>& info) {
    return std::string(std::get<0>(info.param) == Vendor::Nvidia ? "Nvidia_" : "Ati_") +
           (exports()[std::get<1>(info.param)].name + 2);
}

INSTANTIATE_TEST_SUITE_P(Exports, FaultMatrix,
                         ::testing::Combine(::testing::Values(Vendor::Nvidia, Vendor::Ati),
                                            ::testing::Range<std::size_t>(0, exports().size())),
                         caseName);

// Start-up: the vendor library absent, or each of its calls failed or
// absent. A start-up that fails leaves every export answering 3; one that
// goes on leaves exports that answer within the documented set.
class StartUpFaults : public ::testing::TestWithParam<Vendor> {};

void expectConsistentAfter(Machine& m, ZXStatus started, const std::string& what) {
    for (const Export& e : exports()) {
        const Outcome r = callExport(m, e);
        if (started != ZX_STATUS_OK) {
            EXPECT_EQ(r.status, ZX_STATUS_NOT_INITIALISED) << e.name << " after a start-up " << what;
        } else {
            EXPECT_LE(r.status, ZX_STATUS_NOT_SUPPORTED) << e.name << " after a start-up " << what;
        }
        if (r.status != ZX_STATUS_OK) {
            EXPECT_TRUE(r.outputsZero) << e.name << " after a start-up " << what;
        }
    }
}

TEST_P(StartUpFaults, EachFailingOrAbsentCallLeavesAConsistentLibrary) {
    const Vendor vendor = GetParam();
    Machine m(vendor);
    m.removeLibrary();
    EXPECT_EQ(m.start(), ZX_STATUS_FAILED);
    expectConsistentAfter(m, ZX_STATUS_FAILED, "without the vendor library");
    m.offerAllBut("");

    if (vendor == Vendor::Nvidia) {
        EXPECT_EQ(m.start("init status=-1\n"), ZX_STATUS_FAILED);
        expectConsistentAfter(m, ZX_STATUS_FAILED, "whose initialisation failed");
    }
    std::set<std::string> ops;
    if (vendor == Vendor::Nvidia) {
        for (const char* op : kNvOperations) ops.insert(op);
    } else {
        for (const char* name : kAtiEntryPoints) ops.insert(operationOf(name + 6));
    }
    for (const std::string& op : ops) {
        SCOPED_TRACE(op);
        expectConsistentAfter(m, m.start(m.faultLine(op)), "with " + op + " failing");
        ZXStatus started = 0;
        if (vendor == Vendor::Nvidia) {
            started = m.start("missing op=" + op + "\n");
        } else {
            m.offerAllBut(op);
            started = m.start();
        }
        expectConsistentAfter(m, started, "without " + op);
        m.offerAllBut("");
    }
}

INSTANTIATE_TEST_SUITE_P(Vendors, StartUpFaults, ::testing::Values(Vendor::Nvidia, Vendor::Ati),
                         [](const auto& p) { return p.param == Vendor::Nvidia ? "Nvidia" : "Ati"; });

}  // namespace
