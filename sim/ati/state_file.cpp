#include "state_file.h"

#include <sstream>

#include "driver_support.h"

namespace zxsim::ati {

namespace {

std::string adapters(const AdapterSet& set) {
    if (!set) {
        return "all";
    }
    if (set->empty()) {
        return "none";
    }
    std::string list;
    for (const std::int32_t index : *set) {
        if (!list.empty()) {
            list += ',';
        }
        list += std::to_string(index);
    }
    return list;
}

}  // namespace

std::string stateText(const Scenario& scenario) {
    std::ostringstream out;
    out << "# ATI display library simulator state\n";
    const PinController fresh(PinController::Kind::One);
    for (const Gpu& g : scenario.gpus) {
        const OdParameters& o = g.od;
        out << "gpu bus=" << g.location.bus << " device=" << g.location.device << " function=" << g.location.function
            << " plain=" << adapters(g.plain) << " ex=" << adapters(g.extended) << "\n";
        out << "od emin=" << o.engineMin << " emax=" << o.engineMax << " estep=" << o.engineStep
            << " mmin=" << o.memoryMin << " mmax=" << o.memoryMax << " mstep=" << o.memoryStep
            << " vmin=" << o.voltageMin << " vmax=" << o.voltageMax << " vstep=" << o.voltageStep;
        if (g.levelCount) {
            out << " count=" << *g.levelCount;
        }
        out << "\n";
        for (std::size_t i = 0; i < g.levels.size(); ++i) {
            const LevelRow& r = g.levels[i];
            const LevelRow& d = g.defaults[i];
            out << "level engine=" << r.engine << " memory=" << r.memory << " voltage=" << r.voltage
                << " dengine=" << d.engine << " dmemory=" << d.memory << " dvoltage=" << d.voltage << "\n";
        }
        out << "activity percent=" << g.activity << " current=" << g.currentLevel;
        if (g.voltage) {
            out << " voltage=" << *g.voltage;
        }
        out << "\nthermal temp=" << g.milliDegrees << "\n";
        for (const Fan& f : g.fans) {
            out << "fan min=" << f.min << " max=" << f.max << " speed=" << f.speed << " default=" << f.defaultSpeed
                << "\n";
        }
        // Registers that differ from a new controller's; peek shows every
        // register that poke can set, so this is the whole controller.
        for (unsigned reg = 0; reg < 256; ++reg) {
            const auto now = g.pins.peek(static_cast<std::uint8_t>(reg));
            const auto initial = fresh.peek(static_cast<std::uint8_t>(reg));
            if (now && initial && *now != *initial) {
                out << "pin reg=" << hexByte(reg) << " value=" << hexByte(*now) << "\n";
            }
        }
    }
    for (const auto& [index, d] : scenario.displays) {
        out << "display index=" << index << " status=" << d.status << " id=" << d.id << "\n";
    }
    return out.str();
}

}  // namespace zxsim::ati
