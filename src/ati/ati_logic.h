// Pure arithmetic of the ATI backend: the GPU voltage scale and the regulator
// pin controller's pin numbering. Unsigned 32-bit with truncating division.
#pragma once

#include <cstdint>
#include <optional>

namespace zx::ati {

// --- Voltage scale ---------------------------------------------------------
// A card voltage's level index on the card's range; 0 when the step is 0.
constexpr std::uint32_t levelIndexOfVoltage(std::uint32_t voltage, std::uint32_t cardMin, std::uint32_t cardStep) {
    return cardStep == 0 ? 0 : (voltage - cardMin) / cardStep;
}

// A level index as a value of a scale (minimum + index x step).
constexpr std::uint32_t voltageOfLevelIndex(std::uint32_t index, std::uint32_t min, std::uint32_t step) {
    return index * step + min;
}

// The level index a requested value stands for on a scale: the top index at
// or above the maximum, the step count from the minimum within the range,
// and a value below the minimum is itself an index (at most the top one).
constexpr std::uint32_t levelIndexOfRequest(std::uint32_t request, std::uint32_t min, std::uint32_t max,
                                            std::uint32_t step) {
    if (step == 0) {
        return 0;
    }
    const std::uint32_t top = (max - min) / step;
    if (request >= max) {
        return top;
    }
    if (request >= min) {
        return (request - min) / step;
    }
    return request < top ? request : top;
}

// --- Regulator pins ----------------------------------------------------------
// Pin number 10 x (port + 1) + bit: ports 0 and 1 have bits 0 to 7, port 2
// bits 0 to 3. Each port owns a register block.
struct PinAddress {
    std::uint8_t block;  // B: B+0 reads the levels, B+1 takes the output byte
    std::uint8_t mask;
};

constexpr std::optional<PinAddress> pinAddress(std::uint32_t pin) {
    if (pin >= 10 && pin <= 17) {
        return PinAddress{0x00, static_cast<std::uint8_t>(1u << (pin - 10))};
    }
    if (pin >= 20 && pin <= 27) {
        return PinAddress{0x10, static_cast<std::uint8_t>(1u << (pin - 20))};
    }
    if (pin >= 30 && pin <= 33) {
        return PinAddress{0x20, static_cast<std::uint8_t>(1u << (pin - 30))};
    }
    return std::nullopt;
}

constexpr std::uint8_t withPin(std::uint8_t port, std::uint8_t mask, bool high) {
    return static_cast<std::uint8_t>(high ? (port | mask) : (port & ~mask));
}

// Pins of the functions the backend drives.
inline constexpr std::uint32_t kPwmPin = 20;
inline constexpr std::uint32_t kDacPinA = 22;
inline constexpr std::uint32_t kDacPinB = 23;
inline constexpr std::uint32_t kMemoryVoltageLowPin = 24;
inline constexpr std::uint32_t kMemoryVoltageHighPin = 25;

inline constexpr std::uint32_t kMaxMemoryVoltageLevel = 3;
inline constexpr std::uint32_t kMaxPwmLevel = 1;

// The two pin writes that select a memory voltage level, in order; the
// order keeps the regulator from passing through the highest level.
struct PinWrite {
    std::uint32_t pin;
    bool high;
};
struct MemoryVoltageWrites {
    PinWrite first;
    PinWrite second;
};
constexpr MemoryVoltageWrites memoryVoltageWrites(std::uint32_t level) {
    switch (level) {
    case 0: return {{kMemoryVoltageHighPin, false}, {kMemoryVoltageLowPin, false}};
    case 1: return {{kMemoryVoltageHighPin, false}, {kMemoryVoltageLowPin, true}};
    case 2: return {{kMemoryVoltageLowPin, false}, {kMemoryVoltageHighPin, true}};
    default: return {{kMemoryVoltageHighPin, true}, {kMemoryVoltageLowPin, true}};
    }
}

constexpr std::uint32_t memoryVoltageLevelOf(bool lowPin, bool highPin) {
    return (lowPin ? 1u : 0u) + (highPin ? 2u : 0u);
}

}  // namespace zx::ati
