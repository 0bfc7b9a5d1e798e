// Register-level model of the voltage regulator's I2C pin controller, as the
// maker's cards carry it. Any simulated driver can put one on its I2C bus: it
// answers one-byte register reads and writes, and a simulated card derives
// its regulator settings from the pin levels.
//
// Pins are numbered 10 x (port + 1) + bit: 10-17 are port 0, 20-27 port 1.
// Each port owns a block of registers at a base B.
//
// Kind 1 (address byte 0x3E, port blocks 0x00 and 0x10):
//   B+0 pin levels (read only; the pins follow what B+1 drives),
//   B+1 output levels, B+2..B+5 configuration (stored, no effect on the pins),
//   0x20 identification, always 0x95.
// Kind 2 (address byte 0x6E, port blocks 0x10 and 0x20):
//   B+0 output latch, active low (a clear bit drives its pin to 1),
//   B+5 direction: a set bit lets the latch drive the pin,
//   B+1..B+4 configuration (stored, no effect on the pins).
//   A pin whose direction bit is clear floats and reads as 1 (pulled up).
// Any other register is not acknowledged.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

namespace zxsim {

class PinController {
public:
    enum class Kind : unsigned { One = 1, Two = 2 };

    // One register access over the bus, as the log and the fault hook see it.
    struct Access {
        bool write = false;
        std::uint8_t address = 0;  // the controller's address byte
        std::uint8_t reg = 0;
        std::uint8_t value = 0;    // byte written, or byte read (when ok)
        bool ok = true;            // acknowledged
    };
    // Called for every bus access before it acts; returning true fails it
    // (not acknowledged, nothing changed, a read delivers nothing).
    using FaultHook = std::function<bool(const Access&)>;
    // Called for every bus access after it acted (or failed).
    using AccessLog = std::function<void(const Access&)>;

    static constexpr std::uint8_t kKind1Address = 0x3E;
    static constexpr std::uint8_t kKind2Address = 0x6E;
    static constexpr std::uint8_t kIdRegister = 0x20;
    static constexpr std::uint8_t kIdValue = 0x95;

    explicit PinController(Kind kind);

    Kind kind() const { return kind_; }
    std::uint8_t address() const { return kind_ == Kind::One ? kKind1Address : kKind2Address; }
    // Base register of a port's block (port 0 or 1).
    std::uint8_t portBase(unsigned port) const;

    // Bus side: false when the access is not acknowledged.
    bool read(std::uint8_t reg, std::uint8_t& value);
    bool write(std::uint8_t reg, std::uint8_t value);

    // Direct view without side effects, hooks or log. poke of a kind-1 B+0
    // sets the levels its pins show (through B+1); a register the controller
    // does not have gives nothing / false.
    std::optional<std::uint8_t> peek(std::uint8_t reg) const;
    bool poke(std::uint8_t reg, std::uint8_t value);

    // Level of one pin (0 or 1); nothing for a pin number outside 10-17, 20-27.
    std::optional<unsigned> pinLevel(unsigned pin) const;
    // The eight pin levels of a port as a byte (bit b = pin 10 x (port+1) + b).
    std::uint8_t portLevels(unsigned port) const;
    // Whether the controller drives the pin (kind 1: always).
    bool pinDriven(unsigned pin) const;
    // Value of a group of pins read as a binary number: pins[0] is bit 0.
    // Pins outside the controller read as 0.
    unsigned pinsValue(const unsigned* pins, unsigned count) const;

    void setFaultHook(FaultHook hook) { fault_ = std::move(hook); }
    void setAccessLog(AccessLog log) { log_ = std::move(log); }

private:
    // The register's index in regs_, or nothing when the controller lacks it.
    std::optional<unsigned> slot(std::uint8_t reg) const;
    bool finish(Access& access, bool ok);

    Kind kind_;
    // Two port blocks of eight registers each.
    std::uint8_t regs_[2][8] = {};
    FaultHook fault_;
    AccessLog log_;
};

}  // namespace zxsim
