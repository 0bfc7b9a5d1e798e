#include "regulator/pin_controller.h"

namespace zx::regulator {

namespace {

std::uint8_t withPin(std::uint8_t port, std::uint8_t mask, bool high) {
    return static_cast<std::uint8_t>(high ? (port | mask) : (port & ~mask));
}

std::uint8_t at(std::uint8_t block, std::uint8_t offset) { return static_cast<std::uint8_t>(block + offset); }

bool writePushPull(PinBus& bus, std::uint8_t b, std::uint8_t output, bool outputLast) {
    if (!bus.write(at(b, kDirectionRegister), 0xFF) || !bus.write(at(b, kConfig4Register), 0x00) ||
        !bus.write(at(b, kConfig2Register), 0x00)) {
        return false;
    }
    if (outputLast) {
        return bus.write(at(b, kConfig3Register), 0x00) && bus.write(at(b, kOutputsRegister), output);
    }
    return bus.write(at(b, kOutputsRegister), output) && bus.write(at(b, kConfig3Register), 0x00);
}

// The output latch holds each pin inverted; the pin is enabled as an output
// last, once its level is in the latch.
bool writeActiveLow(PinBus& bus, std::uint8_t b, std::uint8_t mask, std::uint8_t latch) {
    std::uint8_t direction = 0;
    if (!bus.read(at(b, kDirectionRegister), direction)) {
        return false;
    }
    const auto enabled = static_cast<std::uint8_t>(direction | mask);
    const auto notEnabled = static_cast<std::uint8_t>(~enabled);
    return bus.write(at(b, kOutputsRegister), notEnabled) && bus.write(at(b, kConfig3Register), notEnabled) &&
           bus.write(at(b, kLevelsRegister), latch) && bus.write(at(b, kDirectionRegister), enabled);
}

}  // namespace

bool readPin(PinBus& bus, const Controller& c, std::uint32_t pin, unsigned& level) {
    level = 0;
    const std::optional<PinPlace> place = placeOf(pin);
    std::uint8_t port = 0;
    if (!place || !bus.read(blockOf(c, place->port), port)) {
        return false;
    }
    level = (port & place->mask) != 0 ? 1 : 0;
    return true;
}

bool writePin(PinBus& bus, const Controller& c, std::uint32_t pin, unsigned level, unsigned* previous) {
    const std::optional<PinPlace> place = placeOf(pin);
    std::uint8_t port = 0;
    if (!place || !bus.read(blockOf(c, place->port), port)) {
        return false;
    }
    const std::uint8_t b = blockOf(c, place->port);
    const bool high = level != 0;
    const bool wasHigh = (port & place->mask) != 0;
    if (c.programming == Programming::ActiveLow) {
        if (previous != nullptr) {
            *previous = wasHigh ? 0 : 1;
        }
        return writeActiveLow(bus, b, place->mask, withPin(port, place->mask, !high));
    }
    if (previous != nullptr) {
        *previous = wasHigh ? 1 : 0;
    }
    return writePushPull(bus, b, withPin(port, place->mask, high), c.programming == Programming::OutputLast);
}

bool writePins(PinBus& bus, const Controller& c, const PinWrites& writes) {
    constexpr unsigned kUnread = 2;
    std::array<unsigned, 5> before{};
    for (unsigned i = 0; i < writes.count; ++i) {
        before[i] = kUnread;
        if (writePin(bus, c, writes.items[i].pin, writes.items[i].level, &before[i])) {
            continue;
        }
        // A pin whose port could not be read was not written; one whose
        // sequence broke off may have taken its new level.
        const unsigned touched = before[i] == kUnread ? i : i + 1;
        for (unsigned j = touched; j-- > 0;) {
            writePin(bus, c, writes.items[j].pin, before[j]);
        }
        return false;
    }
    return true;
}

}  // namespace zx::regulator
