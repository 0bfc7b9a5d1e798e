// A temperature that follows the wall clock: points "MS:TEMP" (comma-separated,
// MS rising from 0) over a cycle as long as the last point's MS, repeated;
// linear between two points with temperatures; a point whose TEMP is "-" makes
// reads fail from its time to the next point's. The cycle runs on
// the wall clock, so every process of a simulated machine sees the same curve.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zxsim {

class TemperatureSchedule {
public:
    // Nothing, with the reason in error, when the text is no schedule.
    static std::optional<TemperatureSchedule> parse(const std::string& text, std::string& error);

    // The temperature (whole degrees) at ms into the cycle; nothing when the
    // read fails then.
    std::optional<std::uint32_t> at(std::uint64_t ms) const;
    // At the current wall-clock time.
    std::optional<std::uint32_t> now() const;

    const std::string& text() const { return text_; }

private:
    struct Point {
        std::uint64_t ms;
        std::optional<std::uint32_t> temp;
    };
    std::vector<Point> points_;
    std::string text_;
};

}  // namespace zxsim
