#include "fan_curve.h"

namespace zxctl {

std::uint32_t curvePercent(const std::vector<CurvePoint>& points, std::uint32_t celsius) {
    if (points.empty()) {
        return 100;
    }
    if (celsius <= points.front().celsius) {
        return points.front().percent;
    }
    for (std::size_t i = 1; i < points.size(); ++i) {
        const CurvePoint& a = points[i - 1];
        const CurvePoint& b = points[i];
        if (celsius <= b.celsius) {
            const double f = static_cast<double>(celsius - a.celsius) / static_cast<double>(b.celsius - a.celsius);
            return static_cast<std::uint32_t>(a.percent + f * (static_cast<double>(b.percent) - a.percent) + 0.5);
        }
    }
    return points.back().percent;
}

FanCurve::Decision FanCurve::step(std::uint64_t nowMs, std::optional<std::uint32_t> celsius) {
    if (!celsius) {
        if (++failures_ < config_.failReads || failSafe_) {
            return {};
        }
        failSafe_ = true;
        setAt_.reset();  // any reading afterwards sets the curve's value
        changedMs_ = nowMs;
        percent_ = config_.maxPercent;
        return {config_.maxPercent, true};
    }
    failures_ = 0;
    const std::uint32_t want = curvePercent(config_.points, *celsius);
    const bool leaving = failSafe_;
    failSafe_ = false;
    if (percent_ && want == *percent_ && !leaving) {
        return {};
    }
    const bool down = percent_ && want < *percent_;
    if (!leaving && down && setAt_ && *celsius + config_.hysteresis > *setAt_) {
        return {};
    }
    if (!leaving && changedMs_ && nowMs - *changedMs_ < config_.minIntervalMs) {
        return {};
    }
    percent_ = want;
    setAt_ = celsius;
    changedMs_ = nowMs;
    return {want, false};
}

}  // namespace zxctl
