#include "state_file.h"

#include <memory>
#include <sstream>

#include "driver_support.h"

namespace zxsim {

namespace {

// Registers are written only where they differ from a new device of the same
// type, so a device with non-zero power-on registers loads back exactly.
void writeBus(std::ostream& out, const I2cBus& bus) {
    for (unsigned address = 0; address < 256; ++address) {
        const I2cDevice* dev = bus.device(static_cast<std::uint8_t>(address));
        if (dev == nullptr) {
            continue;
        }
        // A pin controller at its kind's address is written as the regulator
        // line, which also carries the card's voltage scale.
        const auto* pins = dynamic_cast<const PinControllerDevice*>(dev);
        if (pins != nullptr && pins->pins().address() == address) {
            const PinControllerDevice::Card& card = pins->card();
            out << "regulator kind=" << static_cast<unsigned>(pins->pins().kind()) << " vid=" << card.vidBits
                << " base=" << card.base << " step=" << card.step << "\n";
        } else {
            out << "device addr=" << hexByte(address) << " type=" << dev->typeName() << "\n";
        }
        std::unique_ptr<I2cDevice> fresh = makeI2cDevice(dev->typeName());
        for (unsigned reg = 0; reg < 256; ++reg) {
            std::optional<std::uint8_t> now = dev->peek(static_cast<std::uint8_t>(reg));
            std::optional<std::uint8_t> initial =
                fresh ? fresh->peek(static_cast<std::uint8_t>(reg)) : std::optional<std::uint8_t>();
            if (now && initial && *now != *initial) {
                out << "i2c addr=" << hexByte(address) << " reg=" << hexByte(reg) << " value=" << hexByte(*now) << "\n";
            }
        }
    }
}

}  // namespace

bool changesState(Op op) {
    return op == Op::SetPerfClocks || op == Op::SetCoolerLevels || op == Op::RestoreCoolerSettings ||
           op == Op::I2cWrite;
}

std::string stateText(const Scenario& scenario) {
    std::ostringstream out;
    out << "# NVAPI simulator state\n";
    for (const Gpu& g : scenario.gpus) {
        out << "gpu bus=" << g.bus << " levels=" << g.levelCount << " current=" << g.currentLevel << "\n";
        for (const auto& [selector, entries] : g.clocks) {
            for (const auto& e : entries) {
                out << "clock sel=" << selector << " domain=" << e.domainId << " freq=" << e.frequencyKHz
                    << " default=" << e.defaultKHz << " min=" << e.minKHz << " max=" << e.maxKHz << "\n";
            }
        }
        for (std::size_t i = 0; i < g.sensors.size(); ++i) {
            const auto& t = g.sensors[i];
            out << "thermal temp=" << t.currentTemp << " controller=" << t.controller
                << " min=" << t.defaultMinTemp << " max=" << t.defaultMaxTemp << " target=" << t.target;
            if (const auto s = g.schedules.find(i); s != g.schedules.end()) {
                out << " schedule=" << s->second.text();
            }
            out << "\n";
        }
        for (const Cooler& c : g.coolers) {
            const auto& r = c.row;
            out << "cooler type=" << r.type << " target=" << r.target << " controller=" << r.controller
                << " min=" << r.currentMinLevel << " max=" << r.currentMaxLevel
                << " defaultmin=" << r.defaultMinLevel << " defaultmax=" << r.defaultMaxLevel
                << " level=" << r.currentLevel << " default=" << c.defaultLevel << " policy=" << r.currentPolicy
                << " defaultpolicy=" << r.defaultPolicy << " controltype=" << r.controlType
                << " active=" << r.active;
            if (c.ceiling) {
                out << " ceiling=" << *c.ceiling;
            }
            out << "\n";
        }
        writeBus(out, g.i2c);
    }
    return out.str();
}

}  // namespace zxsim
