// The regulator's pin tables: which pins carry a GPU voltage VID code, a
// memory-voltage level and the PWM clock level, in which order they are
// driven, and the voltage <-> step arithmetic. Pure data and logic; the bus
// work is in pins.h.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "regulator/pin_controller.h"

namespace zx::nv::regulator {

using zx::regulator::PinLevel;
using zx::regulator::PinWrites;
using zx::regulator::stepOf;
using zx::regulator::stepOfRequest;
using zx::regulator::valueOfStep;

// One GPU voltage VID table. Step 0 is the lowest voltage and has the highest
// code: code = topCode - step. Bit b of the code is the level of pins[b].
struct VidTable {
    unsigned bits;
    std::array<std::uint8_t, 5> pins;
    unsigned topCode;
    unsigned stepCount;
    // Kind-1 write order: pins going to 0 first, then pins going to 1, each
    // group in code-bit order; the regulator of the 5-bit table wants the
    // zero group of one step in another order.
    unsigned exceptionStep;                  // stepCount: none
    std::array<std::uint8_t, 2> exceptionZeros;
};

// Kind 1, GPUVoltageStep 25: pins 21, 10, 11, 12, 22; steps 0-20 (codes 28-8).
inline constexpr VidTable kVid5Bit{5, {21, 10, 11, 12, 22}, 28, 21, 17, {22, 11}};
// Kind 1, any other GPUVoltageStep: pins 10, 11, 12, 22; steps 0-9 (codes 9-0).
inline constexpr VidTable kVid4Bit{4, {10, 11, 12, 22, 0}, 9, 10, 10, {0, 0}};
// Kind 2: pins 10, 14, 11; steps 0-7 (codes 7-0), always written in pin order.
inline constexpr VidTable kVid3Bit{3, {10, 14, 11, 0, 0}, 7, 8, 8, {0, 0}};

// The GPUVoltageStep that selects the 5-bit table on kind 1.
inline constexpr std::uint32_t kFiveBitVoltageStep = 25;

inline constexpr const VidTable& kind1Table(std::uint32_t gpuVoltageStep) {
    return gpuVoltageStep == kFiveBitVoltageStep ? kVid5Bit : kVid4Bit;
}

// The VID code of a step, or nothing when the step is outside the table.
std::optional<unsigned> vidCode(const VidTable& table, std::uint32_t step);

// The pins to drive for a step, in bus order; nothing outside the table.
// kind1Order: zeros first, then ones (kind 1); otherwise table pin order.
std::optional<PinWrites> stepWrites(const VidTable& table, std::uint32_t step, bool kind1Order);

// The step of pin levels read in table pin order (bit b = pins[b]); nothing
// for a code outside the table.
std::optional<std::uint32_t> stepOfCode(const VidTable& table, unsigned code);

// Kind 1 maps a requested voltage to a step with stepOfRequest on
// GPUVoltageMin..GPUVoltageMax; kind 2 counts steps from GPUVoltageStart with
// stepOf.

// Memory-voltage level 0-3: the pin writes in bus order for regulator kind 1
// (level = 2 x pin 23 + pin 24; zeros first, pin 23 before pin 24) or kind 2
// (level = pin 16 + 2 x pin 17; pin 16 then pin 17). Nothing above level 3.
inline constexpr unsigned kMemoryVoltageLevels = 4;
std::optional<PinWrites> memoryVoltageWrites(unsigned kind, std::uint32_t level);
// Kind-1 read-back: pin 23 then pin 24.
inline constexpr std::array<std::uint8_t, 2> kMemoryVoltageReadPins{23, 24};
constexpr std::uint32_t memoryVoltageLevel(unsigned pin23, unsigned pin24) { return 2 * pin23 + pin24; }

// The PWM clock level (0 or 1) is the level of pin 21 on both kinds.
inline constexpr std::uint8_t kPwmClockPin = 21;
inline constexpr unsigned kPwmClockLevels = 2;

}  // namespace zx::nv::regulator
