// A hostile I2C device for robustness tests: it identifies itself as a
// kind-1 pin controller (register 0x20 reads 0x95) so that the library drives
// it, then answers every other read with pseudo-random bytes and acknowledges
// and forgets every write.
#pragma once

#include <cstdint>

#include "i2c_bus.h"

namespace zxsim {

class NoisyDevice final : public I2cDevice {
public:
    std::unique_ptr<I2cDevice> clone() const override { return std::make_unique<NoisyDevice>(*this); }
    const char* typeName() const override { return "noisy"; }
    bool read(std::uint8_t reg, std::uint8_t& value) override {
        value = reg == kIdentityRegister ? kIdentity : next();
        return true;
    }
    bool write(std::uint8_t, std::uint8_t) override { return true; }
    std::optional<std::uint8_t> peek(std::uint8_t reg) const override {
        return reg == kIdentityRegister ? kIdentity : std::uint8_t{0};
    }
    bool poke(std::uint8_t, std::uint8_t) override { return true; }

private:
    static constexpr std::uint8_t kIdentityRegister = 0x20;
    static constexpr std::uint8_t kIdentity = 0x95;

    // xorshift32: the same noise in every run.
    std::uint8_t next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return static_cast<std::uint8_t>(state_ >> 24);
    }
    std::uint32_t state_ = 0x9E3779B9u;
};

}  // namespace zxsim
