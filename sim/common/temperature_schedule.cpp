#include "temperature_schedule.h"

#include <chrono>
#include <sstream>

#include "scenario_text.h"

namespace zxsim {

std::optional<TemperatureSchedule> TemperatureSchedule::parse(const std::string& text, std::string& error) {
    TemperatureSchedule s;
    s.text_ = text;
    std::istringstream in(text);
    std::string point;
    while (std::getline(in, point, ',')) {
        const auto colon = point.find(':');
        const std::string temp = colon == std::string::npos ? "" : point.substr(colon + 1);
        const std::int64_t ms = colon == std::string::npos ? -1 : parseNumber(point.substr(0, colon), false).value_or(-1);
        const std::int64_t degrees = temp == "-" ? 0 : parseNumber(temp, false).value_or(-1);
        const std::uint64_t last = s.points_.empty() ? 0 : s.points_.back().ms;
        if (ms < 0 || degrees < 0 || degrees > 255 || static_cast<std::uint64_t>(ms) < last ||
            (s.points_.empty() && ms != 0)) {
            error = "bad schedule point '" + point + "' (MS:TEMP or MS:-, MS rising from 0)";
            return std::nullopt;
        }
        s.points_.push_back({static_cast<std::uint64_t>(ms),
                             temp == "-" ? std::nullopt : std::optional(static_cast<std::uint32_t>(degrees))});
    }
    if (s.points_.size() < 2 || s.points_.back().ms == 0) {
        error = "a schedule needs two points or more and a cycle longer than 0 ms";
        return std::nullopt;
    }
    return s;
}

std::optional<std::uint32_t> TemperatureSchedule::at(std::uint64_t ms) const {
    ms %= points_.back().ms;
    std::size_t i = 0;
    while (i + 1 < points_.size() && points_[i + 1].ms <= ms) {
        ++i;
    }
    const Point& a = points_[i];
    const Point& b = points_[i + 1 < points_.size() ? i + 1 : i];
    if (!a.temp || !b.temp || b.ms == a.ms) {
        return a.temp;
    }
    const double f = static_cast<double>(ms - a.ms) / static_cast<double>(b.ms - a.ms);
    return static_cast<std::uint32_t>(*a.temp + f * (static_cast<double>(*b.temp) - *a.temp) + 0.5);
}

std::optional<std::uint32_t> TemperatureSchedule::now() const {
    const auto since = std::chrono::system_clock::now().time_since_epoch();
    return at(static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(since).count()));
}

}  // namespace zxsim
