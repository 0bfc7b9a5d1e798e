// The VID tables and voltage clamping of both backends: every requested
// voltage maps to a step of the table or is refused, never to a code outside
// it, and the pins driven for a step read back as that step.
#include "ati/ati_logic.h"
#include "fuzz_check.h"
#include "nv/regulator/vid.h"
#include "regulator/pin_controller.h"

namespace reg = zx::nv::regulator;
namespace pc = zx::regulator;

namespace {

void checkTable(const reg::VidTable& table, std::uint32_t step, bool kind1Order) {
    const auto code = reg::vidCode(table, step);
    const auto writes = reg::stepWrites(table, step, kind1Order);
    ZX_FUZZ_CHECK(code.has_value() == (step < table.stepCount));
    ZX_FUZZ_CHECK(writes.has_value() == code.has_value());
    if (!code) {
        return;
    }
    ZX_FUZZ_CHECK(*code <= table.topCode && *code < (1u << table.bits));
    ZX_FUZZ_CHECK(reg::stepOfCode(table, *code) == step);
    ZX_FUZZ_CHECK(writes->count <= writes->items.size());
    // Applying the writes in order leaves each table pin at its code bit.
    unsigned levels[40] = {};
    bool written[40] = {};
    for (unsigned i = 0; i < writes->count; ++i) {
        const reg::PinLevel w = writes->items[i];
        ZX_FUZZ_CHECK(w.pin < 40 && w.level <= 1);
        levels[w.pin] = w.level;
        written[w.pin] = true;
    }
    unsigned readBack = 0;
    for (unsigned bit = 0; bit < table.bits; ++bit) {
        ZX_FUZZ_CHECK(written[table.pins[bit]]);
        readBack |= levels[table.pins[bit]] << bit;
    }
    ZX_FUZZ_CHECK(readBack == *code);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    zxfuzz::Reader r(data, size);
    const std::uint32_t voltage = r.u32();
    std::uint32_t min = r.u32();
    std::uint32_t max = r.u32();
    const std::uint32_t step = r.u32();
    const std::uint32_t raw = r.u32();
    const bool kind1Order = (r.byte() & 1) != 0;
    if (min > max) {
        std::swap(min, max);
    }

    for (const reg::VidTable* table : {&reg::kVid5Bit, &reg::kVid4Bit, &reg::kVid3Bit}) {
        checkTable(*table, raw, kind1Order);
        checkTable(*table, raw % (table->stepCount + 2), kind1Order);
        // A code read from the pins gives a step of the table or none.
        for (const std::uint32_t code : {raw, raw % 64}) {
            const auto s = reg::stepOfCode(*table, code);
            ZX_FUZZ_CHECK(!s || *s < table->stepCount);
            ZX_FUZZ_CHECK(s.has_value() == (code <= table->topCode && table->topCode - code < table->stepCount));
        }
    }

    // NVIDIA kind 1: the step for a request never passes the range's top
    // step; a step beyond the table is refused by stepWrites above.
    if (step != 0) {
        const std::uint32_t top = (max - min) / step;
        const auto s = pc::stepOfRequest(voltage, min, max, step);
        // Below the minimum only a step number below the top is a request.
        ZX_FUZZ_CHECK(s.has_value() == (voltage >= min || voltage < top));
        if (s) {
            ZX_FUZZ_CHECK(*s <= top);
            if (voltage >= min && voltage < max) {
                ZX_FUZZ_CHECK(*s == (voltage - min) / step);
            }
            for (const reg::VidTable* table : {&reg::kVid5Bit, &reg::kVid4Bit}) {
                checkTable(*table, *s, true);
            }
        }
    }
    for (unsigned kind : {1u, 2u, 3u}) {
        const auto w = reg::memoryVoltageWrites(kind, raw);
        if (kind == 3 || raw >= reg::kMemoryVoltageLevels) {
            ZX_FUZZ_CHECK(!w.has_value());
        } else {
            ZX_FUZZ_CHECK(w.has_value() && w->count == 2);
        }
    }

    // A request is a step of the scale, never past its top.
    const auto request = pc::stepOfRequest(voltage, min, max, step);
    if (step == 0 || !request) {
        ZX_FUZZ_CHECK(step == 0 ? !request : (voltage < min && voltage >= (max - min) / step));
    } else {
        const std::uint32_t index = *request;
        ZX_FUZZ_CHECK(index <= (max - min) / step);
        // The index's value on the scale stays inside it when it fits 32 bits.
        const std::uint64_t value = std::uint64_t{index} * step + min;
        ZX_FUZZ_CHECK(value >= min && value <= max);
        ZX_FUZZ_CHECK(pc::valueOfStep(index, min, step) == static_cast<std::uint32_t>(value));
        ZX_FUZZ_CHECK(pc::stepOf(static_cast<std::uint32_t>(value), min, step) == index);
    }
    // Pins outside the controller's ports are refused; others name one bit.
    const auto pin = pc::placeOf(raw);
    ZX_FUZZ_CHECK(pin.has_value() == ((raw >= 10 && raw <= 17) || (raw >= 20 && raw <= 27) || (raw >= 30 && raw <= 33)));
    if (pin) {
        ZX_FUZZ_CHECK(pin->mask != 0 && (pin->mask & (pin->mask - 1)) == 0);
    }
    const auto mv = zx::ati::memoryVoltageWrites(raw);
    ZX_FUZZ_CHECK(mv.count == 2 && mv.items[0].pin != mv.items[1].pin);
    const auto levelOf = [&](std::uint8_t p) { return mv.items[0].pin == p ? mv.items[0].level : mv.items[1].level; };
    ZX_FUZZ_CHECK(zx::ati::memoryVoltageLevelOf(levelOf(zx::ati::kMemoryVoltageLowPin) != 0,
                                                levelOf(zx::ati::kMemoryVoltageHighPin) != 0) == (raw > 3 ? 3u : raw));
    return 0;
}
