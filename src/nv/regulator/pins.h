// The NVIDIA regulators' pin controllers on the GPU's own I2C port, and GPU
// voltage steps as VID codes on their pins. Every operation reports whether
// all its transactions went through and stops at the first that did not; a
// setting of several pins that breaks off is put back as it was.
#pragma once

#include <cstdint>

#include "nv/nvapi_types.h"
#include "nv/regulator/vid.h"
#include "regulator/pin_controller.h"

namespace zx::nv::regulator {

using zx::regulator::PinLevel;
using zx::regulator::PinWrites;

// Regulator kinds with a pin controller: 1 (address byte 0x3E, port blocks
// 0x00 and 0x10, output byte before B+3) and 2 (0x6E, blocks 0x10 and 0x20,
// active-low outputs). Six transactions per pin, whatever its previous level.
bool NvWriteRegulatorPin(NvGpuHandle gpu, unsigned kind, std::uint32_t pin, unsigned level);

// Kind 1 only: the pin's level from the pin-level register.
bool NvReadRegulatorPin(NvGpuHandle gpu, std::uint32_t pin, unsigned& level);

// Drives the pins of writes in order; when one fails, the pins already driven
// are put back (regulator::writePins).
bool writePins(NvGpuHandle gpu, unsigned kind, const PinWrites& writes);

// Drives every pin of the step's VID code (kind 1: table chosen by
// GPUVoltageStep, zeros first; kind 2: pins 10, 14, 11), or leaves the
// earlier code when a transaction fails. The caller has made sure the step
// is in the table.
bool NvWriteGpuVoltageStep(NvGpuHandle gpu, unsigned kind, std::uint32_t step, std::uint32_t gpuVoltageStep);

// Kind 1: the step the pins show; false also when they show a code outside
// the table, which is no voltage of the regulator.
bool NvReadGpuVoltageStep(NvGpuHandle gpu, std::uint32_t gpuVoltageStep, std::uint32_t& step);

}  // namespace zx::nv::regulator
