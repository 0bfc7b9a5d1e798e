// A fan that follows the temperature: points (°C, percent), linear between
// them and flat beyond the ends. The fan rises as soon as the curve asks for
// more; it comes down only once the temperature has fallen `hysteresis`
// degrees below the one that set it, so a temperature at a boundary does not
// make it oscillate. Changes are at least `minIntervalMs` apart, except the
// fail-safe: after `failReads` readings in a row fail, the fan goes to
// `maxPercent` until a reading succeeds again. Pure logic: no I/O.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace zxctl {

struct CurvePoint {
    std::uint32_t celsius;
    std::uint32_t percent;
};

struct FanCurveConfig {
    std::vector<CurvePoint> points;  // rising temperatures, at least one
    std::uint32_t hysteresis = 3;    // °C
    std::uint32_t minIntervalMs = 2000;
    std::uint32_t failReads = 3;
    std::uint32_t maxPercent = 100;  // the fail-safe
};

// The curve's percent at a temperature (rounded to the nearest whole percent).
std::uint32_t curvePercent(const std::vector<CurvePoint>& points, std::uint32_t celsius);

class FanCurve {
public:
    explicit FanCurve(FanCurveConfig config) : config_(std::move(config)) {}

    struct Decision {
        std::optional<std::uint32_t> set;  // the fan percent to set now
        bool failSafe = false;             // set is the fail-safe (warn)
    };
    // One reading at nowMs (nothing: the temperature could not be read).
    Decision step(std::uint64_t nowMs, std::optional<std::uint32_t> celsius);

    bool inFailSafe() const { return failSafe_; }

private:
    FanCurveConfig config_;
    std::optional<std::uint32_t> percent_;  // what was set last
    std::optional<std::uint32_t> setAt_;    // the temperature that set it
    std::optional<std::uint64_t> changedMs_;
    std::uint32_t failures_ = 0;
    bool failSafe_ = false;
};

}  // namespace zxctl
