#include "nv/regulator/vid.h"

namespace zx::nv::regulator {

namespace {

// Memory-voltage pin writes by level, in bus order.
constexpr PinLevel kMemoryKind1[kMemoryVoltageLevels][2] = {
    {{23, 0}, {24, 0}},
    {{23, 0}, {24, 1}},
    {{24, 0}, {23, 1}},
    {{23, 1}, {24, 1}},
};
constexpr PinLevel kMemoryKind2[kMemoryVoltageLevels][2] = {
    {{16, 0}, {17, 0}},
    {{16, 1}, {17, 0}},
    {{16, 0}, {17, 1}},
    {{16, 1}, {17, 1}},
};


}  // namespace

std::optional<unsigned> vidCode(const VidTable& table, std::uint32_t step) {
    if (step >= table.stepCount) {
        return std::nullopt;
    }
    return table.topCode - step;
}

std::optional<PinWrites> stepWrites(const VidTable& table, std::uint32_t step, bool kind1Order) {
    const std::optional<unsigned> code = vidCode(table, step);
    if (!code) {
        return std::nullopt;
    }
    auto levelOf = [&](unsigned bit) { return (*code >> bit) & 1u; };
    PinWrites w;
    if (!kind1Order) {
        for (unsigned bit = 0; bit < table.bits; ++bit) {
            w.add(table.pins[bit], levelOf(bit));
        }
        return w;
    }
    if (step == table.exceptionStep) {
        for (std::uint8_t pin : table.exceptionZeros) {
            w.add(pin, 0);
        }
    } else {
        for (unsigned bit = 0; bit < table.bits; ++bit) {
            if (levelOf(bit) == 0) {
                w.add(table.pins[bit], 0);
            }
        }
    }
    for (unsigned bit = 0; bit < table.bits; ++bit) {
        if (levelOf(bit) == 1) {
            w.add(table.pins[bit], 1);
        }
    }
    return w;
}

std::optional<std::uint32_t> stepOfCode(const VidTable& table, unsigned code) {
    if (code > table.topCode || table.topCode - code >= table.stepCount) {
        return std::nullopt;
    }
    return table.topCode - code;
}

std::optional<PinWrites> memoryVoltageWrites(unsigned kind, std::uint32_t level) {
    if (level >= kMemoryVoltageLevels || (kind != 1 && kind != 2)) {
        return std::nullopt;
    }
    const PinLevel(&row)[2] = kind == 1 ? kMemoryKind1[level] : kMemoryKind2[level];
    PinWrites w;
    for (const PinLevel& p : row) {
        w.add(p.pin, p.level);
    }
    return w;
}

}  // namespace zx::nv::regulator
