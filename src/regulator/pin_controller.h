// The regulator's pin controller, as both vendors' cards carry it: pins
// numbered 10 x (port + 1) + bit, each port owning a block of registers,
// a pin driven by a read-modify-write of its port. Each backend supplies only
// how one register transfer reaches the bus (PinBus); the register
// programming, the pin tables' types and the request-to-step arithmetic are
// here once.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace zx::regulator {

// One-byte register transfers with the pin controller of one GPU. Each
// answers whether the transfer was carried out; a failed read leaves value
// as it was.
class PinBus {
public:
    virtual bool read(std::uint8_t reg, std::uint8_t& value) = 0;
    virtual bool write(std::uint8_t reg, std::uint8_t value) = 0;

protected:
    ~PinBus() = default;
};

// Register offsets within a port's block.
inline constexpr std::uint8_t kLevelsRegister = 0;     // pin levels; active-low: the output latch
inline constexpr std::uint8_t kOutputsRegister = 1;    // output levels
inline constexpr std::uint8_t kConfig2Register = 2;
inline constexpr std::uint8_t kConfig3Register = 3;
inline constexpr std::uint8_t kConfig4Register = 4;
inline constexpr std::uint8_t kDirectionRegister = 5;  // active-low: pins enabled as outputs

// How a controller takes a new pin level. Push-pull controllers get 0xFF in
// B+5 and 0x00 in B+4, B+2, B+3 around the output byte in B+1, which comes
// before B+3 (OutputBeforeConfig3) or after it (OutputLast). The active-low
// controller keeps its outputs inverted in B+0 and enables a pin in B+5.
enum class Programming { OutputLast, OutputBeforeConfig3, ActiveLow };

struct Controller {
    Programming programming;
    std::uint8_t firstBlock;  // register block of port 0; port p at firstBlock + 0x10 x p
};

// Pin number 10 x (port + 1) + bit: 10-17 port 0, 20-27 port 1, 30-33 port 2.
struct PinPlace {
    unsigned port;
    std::uint8_t mask;
};
constexpr std::optional<PinPlace> placeOf(std::uint32_t pin) {
    if (pin >= 10 && pin <= 17) {
        return PinPlace{0, static_cast<std::uint8_t>(1u << (pin - 10))};
    }
    if (pin >= 20 && pin <= 27) {
        return PinPlace{1, static_cast<std::uint8_t>(1u << (pin - 20))};
    }
    if (pin >= 30 && pin <= 33) {
        return PinPlace{2, static_cast<std::uint8_t>(1u << (pin - 30))};
    }
    return std::nullopt;
}

constexpr std::uint8_t blockOf(const Controller& c, unsigned port) {
    return static_cast<std::uint8_t>(c.firstBlock + 0x10 * port);
}

// One pin and the level it is driven to.
struct PinLevel {
    std::uint8_t pin;
    std::uint8_t level;  // 0 or 1
    bool operator==(const PinLevel&) const = default;
};

// The pin writes of one setting, in bus order; at most five pins.
struct PinWrites {
    std::array<PinLevel, 5> items{};
    unsigned count = 0;
    void add(std::uint8_t pin, unsigned level) {
        items[count++] = PinLevel{pin, static_cast<std::uint8_t>(level != 0 ? 1 : 0)};
    }
};

// The pin's level as the port's levels register shows it (1 when its bit is
// set); false when the port could not be read or the pin names none.
bool readPin(PinBus& bus, const Controller& c, std::uint32_t pin, unsigned& level);

// Drives one pin, the port's other pins keeping the levels read first. A port
// that cannot be read is not written. previous receives the pin's level
// before the write (as the port read showed it). False when any transfer
// failed: the pin may or may not have taken the level.
bool writePin(PinBus& bus, const Controller& c, std::uint32_t pin, unsigned level, unsigned* previous = nullptr);

// Drives the pins in order. When a pin write fails, the pins written so far
// and the one that failed are put back to their earlier levels, last first,
// each re-reading its port, so the regulator ends on the setting it started
// from, never on a mix of the old and the new one; the answer is then false.
bool writePins(PinBus& bus, const Controller& c, const PinWrites& writes);

// The step a requested value stands for on a scale min..max by step: the top
// step at or above the maximum, (request - min) / step within the range, and
// below the minimum the request itself as a step number when it is smaller
// than the top step. Nothing for a request below the minimum that is no such
// step number (it would otherwise become the top step, the highest value),
// nor on a scale without a step. Unsigned 32-bit, truncating.
constexpr std::optional<std::uint32_t> stepOfRequest(std::uint32_t request, std::uint32_t min, std::uint32_t max,
                                                     std::uint32_t step) {
    if (step == 0) {
        return std::nullopt;
    }
    const std::uint32_t top = (max - min) / step;
    if (request >= max) {
        return top;
    }
    if (request >= min) {
        return (request - min) / step;
    }
    if (request < top) {
        return request;
    }
    return std::nullopt;
}

// A value's step on a scale from base by step: (value - base) / step,
// unsigned 32-bit, truncating, not clamped; 0 on a scale without a step.
constexpr std::uint32_t stepOf(std::uint32_t value, std::uint32_t base, std::uint32_t step) {
    return step == 0 ? 0 : (value - base) / step;
}

// The value of a step on a scale: base + step x size.
constexpr std::uint32_t valueOfStep(std::uint32_t index, std::uint32_t base, std::uint32_t step) {
    return index * step + base;
}

}  // namespace zx::regulator
