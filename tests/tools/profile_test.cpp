// Tuning profiles and fan curves as pure logic: the file's checks, the safe
// order of changes, and the fan curve's state machine on temperature series.
#include <gtest/gtest.h>

#include "profile.h"

namespace zxctl {
namespace {

TEST(Profile, ProblemsNameFileLineAndKey) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"[[card]]\ngpu_clock = [300, 500]\nbogus = 1\n", "p.toml:3: card[0].bogus: unknown key"},
        {"[[card]]\nvoltage = \"high\"\n", "p.toml:2: card[0].voltage: expected a whole number"},
        {"[[card]]\ngpu_clock = 500\n", "p.toml:2: card[0].gpu_clock: expected an array"},
        {"[[card]]\nfan = 101\n", "p.toml:2: card[0].fan: expected a whole number from 0 to 100"},
        {"[[card]]\nfan = 50\n[card.fan_curve]\npoints = [[40, 30]]\n", "p.toml:3: card[0].fan_curve: a card has either"},
        {"[[card]]\n[card.fan_curve]\npoints = [[60, 30], [50, 80]]\n", "p.toml:3: card[0].fan_curve.points[1]: "
                                                                         "temperatures must rise"},
        {"[daemon]\npoll = 5\n[[card]]\nfan = 50\n", "p.toml:2: daemon.poll: unknown key"},
        {"[[card]]\ngpu_clock = [300,\n", "p.toml:2: (syntax)"},
        {"# nothing\n", "p.toml:1: card: no [[card]] table"},
    };
    for (const auto& [text, problem] : cases) {
        std::vector<std::string> errors;
        EXPECT_FALSE(parseProfile(text, "p.toml", errors)) << text;
        ASSERT_EQ(errors.size(), 1u) << text;
        EXPECT_EQ(errors[0].rfind(problem, 0), 0u) << errors[0];
    }
}

TEST(Profile, ReadsEverySettingInFileOrder) {
    std::vector<std::string> errors;
    const auto p = parseProfile("[daemon]\npoll_ms = 250\n[[card]]\ncard_id = \"10DE_0622_B111_7A3C\"\ngpu = 1\n"
                                "voltage = [1100, 1150]\ngpu_clock = [300, 520]\ndac = 1\nfan = \"auto\"\n"
                                "[[card]]\n[card.fan_curve]\npoints = [[40, 30], [80, 100]]\nhysteresis = 4\n",
                                "p.toml", errors);
    ASSERT_TRUE(p) << errors.front();
    EXPECT_EQ(p->pollMs, 250u);
    ASSERT_EQ(p->cards.size(), 2u);
    const ProfileCard& c = p->cards[0];
    EXPECT_EQ(c.cardId, "10DE_0622_B111_7A3C");
    EXPECT_EQ(c.gpu, 1u);
    std::string seen;
    for (const ProfileSet& s : c.sets) {
        seen += s.key + "=" + (s.request.fanAuto ? "auto" : std::to_string(s.request.value)) + "@" +
                std::to_string(s.line) + " ";
    }
    EXPECT_EQ(seen, "card[0].voltage[0]=1100@6 card[0].voltage[1]=1150@6 card[0].gpu_clock[0]=300@7 "
                    "card[0].gpu_clock[1]=520@7 card[0].dac=1@8 card[0].fan=auto@9 ");
    ASSERT_TRUE(p->cards[1].curve);
    EXPECT_EQ(p->cards[1].curve->config.hysteresis, 4u);
    EXPECT_EQ(p->cards[1].curve->config.points.size(), 2u);
}

TEST(Profile, SafeOrderRaisesVoltageBeforeClocksAndLowersItAfter) {
    const auto step = [](const char* what, std::uint32_t value, std::optional<std::uint32_t> before) {
        PlannedSet p;
        p.set.request.what = what;
        p.set.request.value = value;
        p.set.key = what + std::string(value > before.value_or(0) ? "+" : "-");
        p.before = before;
        return p;
    };
    const std::vector<std::pair<std::vector<PlannedSet>, std::string>> cases = {
        {{step("gpu-clock", 700, 650), step("voltage", 1250, 1200)}, "voltage+ gpu-clock+ "},
        {{step("voltage", 1100, 1200), step("gpu-clock", 500, 650)}, "gpu-clock- voltage- "},
        {{step("fan", 80, {}), step("memory-clock", 950, 900), step("memory-voltage", 3, 2),
          step("shader-clock", 500, 600), step("voltage", 1250, {})},
         "shader-clock- memory-voltage+ voltage+ memory-clock+ fan+ "},
    };
    for (const auto& [steps, order] : cases) {
        std::string seen;
        for (const PlannedSet& p : safeOrder(steps)) {
            seen += p.set.key + " ";
        }
        EXPECT_EQ(seen, order);
    }
}

TEST(FanCurve, InterpolatesBetweenPointsAndIsFlatBeyond) {
    const std::vector<CurvePoint> points = {{40, 30}, {60, 50}, {80, 100}};
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> cases = {
        {0, 30}, {40, 30}, {50, 40}, {60, 50}, {70, 75}, {79, 98}, {80, 100}, {120, 100}};
    for (const auto& [celsius, percent] : cases) {
        EXPECT_EQ(curvePercent(points, celsius), percent) << celsius;
    }
}

// A scripted series of readings (°C, nothing for a failed read), one every
// 100 ms, and what the fan is set to after each (0: unchanged).
TEST(FanCurve, FollowsRampsHoldsAtBoundariesAndFailsSafe) {
    const FanCurveConfig config{{{40, 30}, {80, 70}}, 3, 200, 3, 95};
    using R = std::optional<std::uint32_t>;
    const std::vector<std::pair<std::vector<R>, std::vector<std::uint32_t>>> cases = {
        // Rising: follows each step as soon as the interval allows.
        {{40, 50, 60, 70, 80}, {30, 0, 50, 0, 70}},
        // At a boundary the temperature swings by less than the hysteresis: no change.
        {{60, 59, 60, 58, 60, 59}, {50, 0, 0, 0, 0, 0}},
        // Falling by the hysteresis or more: down.
        {{60, 57, 57, 50}, {50, 0, 47, 0}},
        // Three failed reads: the fail-safe; the first good read leaves it at once.
        {{50, {}, {}, {}, {}, 50}, {40, 0, 0, 95, 0, 40}},
        // Failures interrupted by a good read start counting again.
        {{50, {}, {}, 50, {}, {}}, {40, 0, 0, 0, 0, 0}},
    };
    for (std::size_t c = 0; c < cases.size(); ++c) {
        FanCurve curve(config);
        const auto& [readings, expected] = cases[c];
        for (std::size_t i = 0; i < readings.size(); ++i) {
            const FanCurve::Decision d = curve.step(1000 + 100 * i, readings[i]);
            EXPECT_EQ(d.set.value_or(0), expected[i]) << "case " << c << " reading " << i;
            EXPECT_EQ(d.failSafe, expected[i] == 95) << "case " << c << " reading " << i;
        }
    }
}

}  // namespace
}  // namespace zxctl
