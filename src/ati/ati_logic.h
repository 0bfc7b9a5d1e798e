// Pure arithmetic of the ATI backend: the GPU voltage scale and the regulator
// pins it drives. Unsigned 32-bit with truncating division.
#pragma once

#include <cstdint>

#include "regulator/pin_controller.h"

namespace zx::ati {

// --- Voltage scale ---------------------------------------------------------
// Level indices on a voltage scale are the pin controller's steps: a card
// voltage's index is stepOf(voltage, min, step), an index's value
// valueOfStep(index, min, step), a request's index stepOfRequest.
using zx::regulator::stepOf;
using zx::regulator::stepOfRequest;
using zx::regulator::valueOfStep;

// --- Regulator pins ----------------------------------------------------------
// Pins of the functions the backend drives.
inline constexpr std::uint8_t kPwmPin = 20;
inline constexpr std::uint8_t kDacPinA = 22;
inline constexpr std::uint8_t kDacPinB = 23;
inline constexpr std::uint8_t kMemoryVoltageLowPin = 24;
inline constexpr std::uint8_t kMemoryVoltageHighPin = 25;

inline constexpr std::uint32_t kMaxMemoryVoltageLevel = 3;
inline constexpr std::uint32_t kMaxPwmLevel = 1;

// The two pin writes that select a memory voltage level, in order; the
// order keeps the regulator from passing through the highest level.
inline zx::regulator::PinWrites memoryVoltageWrites(std::uint32_t level) {
    zx::regulator::PinWrites w;
    switch (level) {
    case 0: w.add(kMemoryVoltageHighPin, 0), w.add(kMemoryVoltageLowPin, 0); break;
    case 1: w.add(kMemoryVoltageHighPin, 0), w.add(kMemoryVoltageLowPin, 1); break;
    case 2: w.add(kMemoryVoltageLowPin, 0), w.add(kMemoryVoltageHighPin, 1); break;
    default: w.add(kMemoryVoltageHighPin, 1), w.add(kMemoryVoltageLowPin, 1); break;
    }
    return w;
}

constexpr std::uint32_t memoryVoltageLevelOf(bool lowPin, bool highPin) {
    return (lowPin ? 1u : 0u) + (highPin ? 2u : 0u);
}

}  // namespace zx::ati
