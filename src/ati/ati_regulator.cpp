// The regulator's pin controller on the card's I2C bus: one-byte transfers
// through the display library, single pins read and driven, and the memory
// voltage, PWM clock and DAC operations built on them.
#include <optional>

#include "ati/ati_backend.h"
#include "ati/ati_binding.h"
#include "ati/ati_logic.h"
#include "ati/ati_profile.h"

namespace zx::ati {

namespace {

using U = std::uint32_t;

constexpr std::int32_t kPinControllerAddress = 0x3E;  // 8-bit form; bit 0 set reads
constexpr std::int32_t kI2cLine = 1;
constexpr std::int32_t kSpeeds[] = {75, 120};
constexpr std::int32_t kLastSweptAdapter = 2;

// One register transfer to GPU g's pin controller. Every adapter index from
// the binding's up to 2 is tried at both speeds, first on the extended path
// (which reaches the GPU by its location), then, for GPU 0 only, on the plain
// path: the plain path cannot name a GPU and reaches the first one, so
// another GPU's transfer never falls back to it. Answers the byte read or
// written; nothing when every attempt failed.
std::optional<std::uint8_t> transfer(U gpu, std::uint8_t reg, bool write, std::uint8_t value) {
    AtiBinding& b = atiBinding();
    const std::int32_t first = b.adapterIndex;
    const std::int32_t last = first >= 3 ? first : kLastSweptAdapter;
    std::uint8_t buffer[4] = {value, 0, 0, 0};
    AtiI2CTransfer t{};
    auto prepare = [&](std::int32_t speed) {
        t = AtiI2CTransfer{};
        t.size = sizeof t;
        t.line = kI2cLine;
        t.address = write ? kPinControllerAddress : (kPinControllerAddress | 1);
        t.offset = reg;
        t.action = write ? kI2cWrite : kI2cRead;
        t.speed = speed;
        t.dataLength = 1;
        if (!write) {
            buffer[0] = 0;
        }
        t.data = buffer;
    };
    if (b.writeAndReadI2cEx != nullptr) {
        for (std::int32_t adapter = first; adapter <= last; ++adapter) {
            for (std::int32_t speed : kSpeeds) {
                prepare(speed);
                if (b.writeAndReadI2cEx(adapter, &t, &b.locations[gpu]) == 0) {
                    b.extendedPathUnconfirmed = 0;
                    return buffer[0];
                }
            }
        }
    }
    if (b.writeAndReadI2c != nullptr && gpu == 0) {
        for (std::int32_t adapter = first; adapter <= last; ++adapter) {
            for (std::int32_t speed : kSpeeds) {
                prepare(speed);
                if (b.writeAndReadI2c(adapter, &t) == 0) {
                    return buffer[0];
                }
            }
        }
    }
    return std::nullopt;
}

namespace pc = zx::regulator;

// The pin controller of GPU g, reached by transfers; the output byte is
// written last.
class AtiPinBus final : public pc::PinBus {
public:
    explicit AtiPinBus(U gpu) : gpu_(gpu) {}
    bool read(std::uint8_t reg, std::uint8_t& value) override {
        const auto byte = transfer(gpu_, reg, false, 0);
        if (byte) {
            value = *byte;
        }
        return byte.has_value();
    }
    bool write(std::uint8_t reg, std::uint8_t value) override {
        return transfer(gpu_, reg, true, value).has_value();
    }

private:
    U gpu_;
};

constexpr pc::Controller kController{pc::Programming::OutputLast, 0x00};

// 0 or 1, or nothing when the port could not be read.
std::optional<bool> readPin(U gpu, U pin) {
    AtiPinBus bus(gpu);
    unsigned level = 0;
    if (!pc::readPin(bus, kController, pin, level)) {
        return std::nullopt;
    }
    return level != 0;
}

// Read-modify-write of the pin's port: the other pins keep their levels. A
// port that cannot be read is not written, since its other pins would be
// driven to levels nobody read.
bool writePins(U gpu, const pc::PinWrites& writes) {
    AtiPinBus bus(gpu);
    return pc::writePins(bus, kController, writes);
}

bool writePin(U gpu, std::uint8_t pin, bool high) {
    pc::PinWrites w;
    w.add(pin, high ? 1 : 0);
    return writePins(gpu, w);
}

// The end of a pin getter: the value when the pins were read, else 1 with the
// output 0. Only the extended path reaches a GPU other than the first, so
// pins of such a GPU read only once that path carried the transfers.
StatusCode answerGetter(std::optional<U> value, U* out) {
    if (!value) {
        *out = 0;
        return StatusCode::Failed;
    }
    *out = *value;
    return StatusCode::Ok;
}

StatusCode answerSetter(bool written) { return written ? StatusCode::Ok : StatusCode::Failed; }

StatusCode setMemoryVoltage(U gpu, U level) {
    if (gpuLocation(gpu) == nullptr || level > kMaxMemoryVoltageLevel) {
        return StatusCode::Failed;
    }
    return answerSetter(writePins(gpu, memoryVoltageWrites(level)));
}

StatusCode setPwm(U gpu, U level) {
    if (gpuLocation(gpu) == nullptr || level > kMaxPwmLevel) {
        return StatusCode::Failed;
    }
    return answerSetter(writePin(gpu, kPwmPin, level != 0));
}

// Memory voltage and PWM clock: two regulator levels of one shape, a profile
// range whose step switches the feature on and a default captured at the
// first start (or none).
struct LevelControl {
    U AtiCardProfile::*max;
    U AtiCardProfile::*min;
    U AtiCardProfile::*step;
    U AtiCardProfile::*defaultLevel;
    bool AtiCardProfile::*hasDefault;
    StatusCode (*write)(U gpu, U level);
};

constexpr LevelControl kMemoryVoltage{
    &AtiCardProfile::MemoryVoltageMax,          &AtiCardProfile::MemoryVoltageMin,
    &AtiCardProfile::MemoryVoltageStep,         &AtiCardProfile::DefaultMemoryVoltageLevel,
    &AtiCardProfile::hasDefaultMemoryVoltageLevel, setMemoryVoltage};
constexpr LevelControl kPwmClock{&AtiCardProfile::PWMClockMax,  &AtiCardProfile::PWMClockMin,
                                 &AtiCardProfile::PWMClockStep, &AtiCardProfile::DefaultPWMLevel,
                                 &AtiCardProfile::hasDefaultPWMLevel, setPwm};

bool offered(const LevelControl& c) { return atiProfile().*c.step != 0; }

StatusCode levelInfo(const LevelControl& c, RangeInfo* out) {
    const AtiCardProfile& p = atiProfile();
    if (!offered(c)) {
        return StatusCode::NotSupported;
    }
    out->maximum = p.*c.max;
    out->minimum = p.*c.min;
    out->step = p.*c.step;
    return StatusCode::Ok;
}

StatusCode levelDefault(const LevelControl& c, U* level) {
    const AtiCardProfile& p = atiProfile();
    if (!offered(c)) {
        return StatusCode::NotSupported;
    }
    if (!(p.*c.hasDefault)) {
        return StatusCode::Failed;
    }
    *level = p.*c.defaultLevel;
    return StatusCode::Ok;
}

StatusCode setLevel(const LevelControl& c, U gpu, U level) {
    return offered(c) ? c.write(gpu, level) : StatusCode::NotSupported;
}

StatusCode setLevelDefault(const LevelControl& c, U gpu) {
    U level = 0;
    const StatusCode s = levelDefault(c, &level);
    return s == StatusCode::Ok ? c.write(gpu, level) : s;
}

}  // namespace

StatusCode AtiBackend::getCurrentMemoryVoltageLevel(U gpu, U* level) {
    if (!offered(kMemoryVoltage)) {
        return StatusCode::NotSupported;
    }
    if (gpuLocation(gpu) == nullptr) {
        return StatusCode::Failed;
    }
    const auto low = readPin(gpu, kMemoryVoltageLowPin);
    const auto high = low ? readPin(gpu, kMemoryVoltageHighPin) : std::nullopt;
    std::optional<U> value;
    if (low && high) {
        value = memoryVoltageLevelOf(*low, *high);
    }
    return answerGetter(value, level);
}

StatusCode AtiBackend::getMemoryVoltageInfo(U, RangeInfo* out) { return levelInfo(kMemoryVoltage, out); }
StatusCode AtiBackend::getMemoryVoltageDefault(U, U* level) { return levelDefault(kMemoryVoltage, level); }
StatusCode AtiBackend::setCurrentMemoryVoltageLevel(U gpu, U level) { return setLevel(kMemoryVoltage, gpu, level); }
StatusCode AtiBackend::setMemoryVoltageDefault(U gpu) { return setLevelDefault(kMemoryVoltage, gpu); }

StatusCode AtiBackend::getCurrentPwmClockLevel(U gpu, U* level) {
    if (!offered(kPwmClock)) {
        return StatusCode::NotSupported;
    }
    if (gpuLocation(gpu) == nullptr) {
        return StatusCode::Failed;
    }
    const auto pin = readPin(gpu, kPwmPin);
    return answerGetter(pin ? std::optional<U>(*pin ? 1u : 0u) : std::nullopt, level);
}

StatusCode AtiBackend::getPwmClockInfo(U, RangeInfo* out) { return levelInfo(kPwmClock, out); }
StatusCode AtiBackend::getPwmClockDefault(U, U* level) { return levelDefault(kPwmClock, level); }
StatusCode AtiBackend::setCurrentPwmClockLevel(U gpu, U level) { return setLevel(kPwmClock, gpu, level); }
StatusCode AtiBackend::setPwmClockDefault(U gpu) { return setLevelDefault(kPwmClock, gpu); }

StatusCode AtiBackend::getDacLevel(U gpu, U* level) {
    if (atiProfile().DACSupported == 0) {
        return StatusCode::NotSupported;
    }
    if (gpuLocation(gpu) == nullptr) {
        return StatusCode::Failed;
    }
    const auto pin = readPin(gpu, kDacPinA);
    return answerGetter(pin ? std::optional<U>(*pin ? 1u : 0u) : std::nullopt, level);
}

StatusCode AtiBackend::setDacLevel(U gpu, U level) {
    if (atiProfile().DACSupported == 0) {
        return StatusCode::NotSupported;
    }
    if (gpuLocation(gpu) == nullptr) {
        return StatusCode::Failed;
    }
    pc::PinWrites w;
    w.add(kDacPinA, level);
    w.add(kDacPinB, level);
    return answerSetter(writePins(gpu, w));
}

}  // namespace zx::ati
