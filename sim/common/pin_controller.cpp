#include "pin_controller.h"

namespace zxsim {

namespace {

constexpr unsigned kBlockSize = 8;
constexpr unsigned kLevels = 0;     // kind 1: pin levels; kind 2: output latch
constexpr unsigned kOutputs = 1;    // kind 1: output levels
constexpr unsigned kDirection = 5;  // kind 2: driven pins

// Port and bit of a pin number; nothing outside 10-17, 20-27.
std::optional<std::pair<unsigned, unsigned>> splitPin(unsigned pin) {
    if (pin < 10 || pin > 27 || pin % 10 > 7) {
        return std::nullopt;
    }
    return std::pair<unsigned, unsigned>{pin / 10 - 1, pin % 10};
}

}  // namespace

PinController::PinController(Kind kind) : kind_(kind) {
    if (kind_ == Kind::Two) {
        // Latch released (all bits set), no pin driven.
        for (auto& block : regs_) {
            block[kLevels] = 0xFF;
        }
    }
}

std::uint8_t PinController::portBase(unsigned port) const {
    unsigned first = kind_ == Kind::One ? 0x00 : 0x10;
    return static_cast<std::uint8_t>(first + 0x10 * (port & 1));
}

std::optional<unsigned> PinController::slot(std::uint8_t reg) const {
    for (unsigned port = 0; port < 2; ++port) {
        unsigned base = portBase(port);
        if (reg >= base && reg < base + kBlockSize) {
            return port * kBlockSize + (reg - base);
        }
    }
    return std::nullopt;
}

std::optional<std::uint8_t> PinController::peek(std::uint8_t reg) const {
    if (kind_ == Kind::One && reg == kIdRegister) {
        return kIdValue;
    }
    auto s = slot(reg);
    if (!s) {
        return std::nullopt;
    }
    unsigned port = *s / kBlockSize;
    unsigned off = *s % kBlockSize;
    if (kind_ == Kind::One && off == kLevels) {
        return regs_[port][kOutputs];
    }
    return regs_[port][off];
}

bool PinController::poke(std::uint8_t reg, std::uint8_t value) {
    if (kind_ == Kind::One && reg == kIdRegister) {
        return false;
    }
    auto s = slot(reg);
    if (!s) {
        return false;
    }
    unsigned port = *s / kBlockSize;
    unsigned off = *s % kBlockSize;
    if (kind_ == Kind::One && off == kLevels) {
        off = kOutputs;
    }
    regs_[port][off] = value;
    return true;
}

bool PinController::finish(Access& access, bool ok) {
    access.ok = ok;
    if (log_) {
        log_(access);
    }
    return ok;
}

bool PinController::read(std::uint8_t reg, std::uint8_t& value) {
    Access access{false, address(), reg, 0, true};
    if (fault_ && fault_(access)) {
        return finish(access, false);
    }
    std::optional<std::uint8_t> v = peek(reg);
    if (!v) {
        return finish(access, false);
    }
    value = *v;
    access.value = *v;
    return finish(access, true);
}

bool PinController::write(std::uint8_t reg, std::uint8_t value) {
    Access access{true, address(), reg, value, true};
    if (fault_ && fault_(access)) {
        return finish(access, false);
    }
    if (kind_ == Kind::One && reg == kIdRegister) {
        return finish(access, true);  // read-only: acknowledged, ignored
    }
    auto s = slot(reg);
    if (!s) {
        return finish(access, false);
    }
    unsigned port = *s / kBlockSize;
    unsigned off = *s % kBlockSize;
    if (!(kind_ == Kind::One && off == kLevels)) {  // kind-1 levels are read only
        regs_[port][off] = value;
    }
    return finish(access, true);
}

bool PinController::pinDriven(unsigned pin) const {
    auto pb = splitPin(pin);
    if (!pb) {
        return false;
    }
    if (kind_ == Kind::One) {
        return true;
    }
    return (regs_[pb->first][kDirection] >> pb->second & 1u) != 0;
}

std::optional<unsigned> PinController::pinLevel(unsigned pin) const {
    auto pb = splitPin(pin);
    if (!pb) {
        return std::nullopt;
    }
    return (portLevels(pb->first) >> pb->second) & 1u;
}

std::uint8_t PinController::portLevels(unsigned port) const {
    const std::uint8_t* block = regs_[port & 1];
    if (kind_ == Kind::One) {
        return block[kOutputs];
    }
    // Driven pins show the inverted latch; the others float high.
    return static_cast<std::uint8_t>((~block[kLevels] & block[kDirection]) | ~block[kDirection]);
}

unsigned PinController::pinsValue(const unsigned* pins, unsigned count) const {
    unsigned value = 0;
    for (unsigned i = 0; i < count; ++i) {
        value |= pinLevel(pins[i]).value_or(0) << i;
    }
    return value;
}

}  // namespace zxsim
