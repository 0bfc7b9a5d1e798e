// The regulator's pin tables and voltage arithmetic, against the patterns the
// regulator's data sheet gives (one character per pin, table pin order).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "nv/regulator/vid.h"

namespace {

using namespace zx::nv::regulator;

struct Table {
    const VidTable& table;
    std::vector<std::string> patterns;  // by step
};

const Table kTables[] = {
    {kVid5Bit, {"00111", "11011", "01011", "10011", "00011", "11101", "01101", "10101", "00101", "11001", "01001",
                "10001", "00001", "11110", "01110", "10110", "00110", "11010", "01010", "10010", "00010"}},
    {kVid4Bit, {"1001", "0001", "1110", "0110", "1010", "0010", "1100", "0100", "1000", "0000"}},
    {kVid3Bit, {"111", "011", "101", "001", "110", "010", "100", "000"}},
};

std::string text(const PinWrites& w) {
    std::string s;
    for (unsigned i = 0; i < w.count; ++i) {
        s += (s.empty() ? "" : " ") + std::to_string(w.items[i].pin) + ">" + std::to_string(w.items[i].level);
    }
    return s;
}

TEST(NvVid, EveryStepHasItsPatternAndReadsBack) {
    for (const Table& t : kTables) {
        ASSERT_EQ(t.patterns.size(), t.table.stepCount);
        for (std::uint32_t step = 0; step < t.patterns.size(); ++step) {
            const std::string& p = t.patterns[step];
            std::string expected;
            unsigned code = 0;
            for (unsigned bit = 0; bit < p.size(); ++bit) {
                expected += (bit ? " " : "") + std::to_string(t.table.pins[bit]) + ">" + p[bit];
                code |= static_cast<unsigned>(p[bit] - '0') << bit;
            }
            const auto inPinOrder = stepWrites(t.table, step, false);
            ASSERT_TRUE(inPinOrder);
            EXPECT_EQ(text(*inPinOrder), expected) << t.table.bits << "-bit step " << step;
            EXPECT_EQ(stepOfCode(t.table, code), step);
            // Kind 1: the same pins, those going to 0 first.
            const auto kind1 = stepWrites(t.table, step, true);
            ASSERT_TRUE(kind1);
            ASSERT_EQ(kind1->count, p.size());
            for (unsigned i = 1; i < kind1->count; ++i) {
                EXPECT_LE(kind1->items[i - 1].level, kind1->items[i].level) << step;
            }
        }
        EXPECT_FALSE(stepWrites(t.table, t.table.stepCount, true));
        EXPECT_FALSE(vidCode(t.table, 0xFFFFFFFFu));
    }
}

}  // namespace
