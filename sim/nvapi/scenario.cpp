#include "scenario.h"

namespace zxsim {

namespace {

const OpInfo kOps[kOpCount] = {
    {Op::Initialize, "Initialize", nv::NvapiId::Initialize, false},
    {Op::EnumPhysicalGpus, "EnumPhysicalGPUs", nv::NvapiId::EnumPhysicalGpus, false},
    {Op::GetBusId, "GetBusId", nv::NvapiId::GetBusId, true},
    {Op::GetPerfClocks, "GetPerfClocks", nv::NvapiId::GetPerfClocks, true},
    {Op::SetPerfClocks, "SetPerfClocks", nv::NvapiId::SetPerfClocks, true},
    {Op::GetThermalSettings, "GetThermalSettings", nv::NvapiId::GetThermalSettings, true},
    {Op::GetCoolerSettings, "GetCoolerSettings", nv::NvapiId::GetCoolerSettings, true},
    {Op::SetCoolerLevels, "SetCoolerLevels", nv::NvapiId::SetCoolerLevels, true},
    {Op::RestoreCoolerSettings, "RestoreCoolerSettings", nv::NvapiId::RestoreCoolerSettings, true},
    {Op::I2cRead, "I2CRead", nv::NvapiId::I2cRead, true},
    {Op::I2cWrite, "I2CWrite", nv::NvapiId::I2cWrite, true},
};

class Parser {
public:
    Parser(Scenario& scenario, bool additionsOnly) : s_(scenario), additionsOnly_(additionsOnly) {}

    void line(const std::string& directive, Fields& f) {
        if (directive == "fault") {
            fault(f);
        } else if (directive == "missing") {
            s_.missing[static_cast<std::size_t>(opField(f, kOps).op)] = true;
        } else if (directive == "init") {
            Fault fault;
            fault.op = Op::Initialize;
            fault.status = f.status("status");
            s_.faults.push_back(fault);
        } else if (additionsOnly_) {
            throw LineError("only fault, missing and init lines can be added to a running scenario");
        } else if (directive == "gpu") {
            gpu(f);
        } else if (directive == "clock") {
            clock(f);
        } else if (directive == "thermal") {
            thermal(f);
        } else if (directive == "cooler") {
            cooler(f);
        } else if (directive == "device") {
            device(f);
        } else if (directive == "i2c") {
            i2c(f);
        } else if (directive == "regulator") {
            regulator(f);
        } else {
            throw LineError("unknown directive '" + directive +
                            "' (gpu, clock, thermal, cooler, device, i2c, regulator, fault, missing, init)");
        }
    }

private:
    Gpu& current(const char* directive) {
        if (s_.gpus.empty()) {
            throw LineError(std::string(directive) + " line before the first gpu line");
        }
        return s_.gpus.back();
    }

    void gpu(Fields& f) {
        if (s_.gpus.size() >= nv::kMaxPhysicalGpus) {
            throw LineError("more than 64 GPUs");
        }
        Gpu g;
        g.bus = f.u32Or("bus", 0);
        g.levelCount = f.u32Or("levels", 1);
        g.currentLevel = f.u32Or("current", 0);
        s_.gpus.push_back(std::move(g));
    }

    void clock(Fields& f) {
        Gpu& g = current("clock");
        nv::NvClockEntry e{};
        std::uint32_t selector = f.u32("sel");
        e.domainId = f.u32("domain");
        e.frequencyKHz = f.u32("freq");
        e.defaultKHz = f.u32Or("default", e.frequencyKHz);
        e.minKHz = f.u32Or("min", 0);
        e.maxKHz = f.u32Or("max", 0xFFFFFFFFu);
        if (e.minKHz > e.maxKHz) {
            throw LineError("clock min above max");
        }
        std::vector<nv::NvClockEntry>& entries = g.clocks[selector];
        if (entries.size() >= nv::kMaxClockEntries) {
            throw LineError("too many clock entries for one selector");
        }
        entries.push_back(e);
    }

    void thermal(Fields& f) {
        Gpu& g = current("thermal");
        if (g.sensors.size() >= 3) {
            throw LineError("more than 3 thermal sensors");
        }
        nv::NvThermalSensor t{};
        t.currentTemp = f.u32("temp");
        t.controller = f.u32Or("controller", 1);
        t.defaultMinTemp = f.u32Or("min", 0);
        t.defaultMaxTemp = f.u32Or("max", 127);
        t.target = f.u32Or("target", nv::kCoolerTargetGpu);
        if (const auto text = f.optionalText("schedule")) {
            std::string error;
            auto schedule = zxsim::TemperatureSchedule::parse(*text, error);
            if (!schedule) {
                throw LineError(error);
            }
            g.schedules.emplace(g.sensors.size(), *schedule);
        }
        g.sensors.push_back(t);
    }

    void cooler(Fields& f) {
        Gpu& g = current("cooler");
        if (g.coolers.size() >= nv::kMaxCoolers) {
            throw LineError("more than 3 coolers");
        }
        Cooler c{};
        nv::NvCoolerRow& r = c.row;
        r.type = f.u32Or("type", nv::kCoolerTypeFan);
        r.target = f.u32Or("target", nv::kCoolerTargetGpu);
        r.controller = f.u32Or("controller", 0);
        r.currentMinLevel = f.u32Or("min", 0);
        r.currentMaxLevel = f.u32Or("max", 100);
        r.defaultMinLevel = f.u32Or("defaultmin", r.currentMinLevel);
        r.defaultMaxLevel = f.u32Or("defaultmax", r.currentMaxLevel);
        if (r.currentMinLevel > r.currentMaxLevel || r.defaultMinLevel > r.defaultMaxLevel) {
            throw LineError("cooler min above max");
        }
        std::optional<std::uint32_t> level = f.optionalU32("level");
        std::optional<std::uint32_t> defaultLevel = f.optionalU32("default");
        c.defaultLevel = defaultLevel.value_or(level.value_or(r.currentMinLevel));
        r.currentLevel = level.value_or(c.defaultLevel);
        std::optional<std::uint32_t> policy = f.optionalU32("policy");
        std::optional<std::uint32_t> defaultPolicy = f.optionalU32("defaultpolicy");
        r.defaultPolicy = defaultPolicy.value_or(policy.value_or(0));
        r.currentPolicy = policy.value_or(r.defaultPolicy);
        r.controlType = f.u32Or("controltype", 0);
        r.active = f.u32Or("active", 1);
        c.ceiling = f.optionalU32("ceiling");
        g.coolers.push_back(c);
    }

    void device(Fields& f) {
        Gpu& g = current("device");
        std::uint8_t address = static_cast<std::uint8_t>(f.u32("addr", 0xFF));
        std::string type = f.optionalText("type").value_or("registers");
        if (g.i2c.device(address) != nullptr) {
            throw LineError("a device at this address is already on the bus");
        }
        std::unique_ptr<I2cDevice> dev = makeI2cDevice(type);
        if (!dev) {
            throw LineError("unknown device type '" + type + "' (" + commaList(i2cDeviceTypes()) + ")");
        }
        g.i2c.attach(address, std::move(dev));
    }

    // The regulator's pin controller at its kind's address byte.
    void regulator(Fields& f) {
        Gpu& g = current("regulator");
        std::uint32_t kind = f.u32("kind", 2);
        if (kind != 1 && kind != 2) {
            throw LineError("regulator kind is 1 or 2");
        }
        PinControllerDevice::Card card;
        card.vidBits = f.u32Or("vid", kind == 1 ? 5 : 3);
        if (!isVidWidth(card.vidBits) || (kind == 2) != (card.vidBits == 3)) {
            throw LineError("vid= is 5 or 4 on kind 1, 3 on kind 2");
        }
        card.base = f.u32Or("base", 0);
        card.step = f.u32Or("step", 0);
        auto dev = std::make_unique<PinControllerDevice>(
            kind == 1 ? PinController::Kind::One : PinController::Kind::Two, card);
        std::uint8_t address = dev->pins().address();
        if (g.i2c.device(address) != nullptr) {
            throw LineError("a device at this address is already on the bus");
        }
        g.i2c.attach(address, std::move(dev));
    }
    void i2c(Fields& f) {
        Gpu& g = current("i2c");
        std::uint8_t address = static_cast<std::uint8_t>(f.u32("addr", 0xFF));
        std::uint8_t reg = static_cast<std::uint8_t>(f.u32("reg", 0xFF));
        std::uint8_t value = static_cast<std::uint8_t>(f.u32("value", 0xFF));
        I2cDevice* dev = g.i2c.device(address);
        if (dev == nullptr) {
            g.i2c.attach(address, std::make_unique<RegisterFileDevice>());
            dev = g.i2c.device(address);
        }
        if (!dev->poke(reg, value)) {
            throw LineError(std::string("the ") + dev->typeName() + " device has no such register");
        }
    }

    void fault(Fields& f) {
        Fault fault;
        fault.op = opField(f, kOps).op;
        fault.status = f.status("status");
        fault.gpu = f.optionalU32("gpu");
        if (fault.gpu && !opInfo(fault.op).takesGpu) {
            throw LineError(std::string(opInfo(fault.op).name) + " takes no GPU, so gpu= cannot apply");
        }
        fault.after = f.u32Or("after", 0);
        fault.times = f.u32Or("times", 0);
        s_.faults.push_back(fault);
    }

    Scenario& s_;
    bool additionsOnly_;
};

ParseError parse(const std::string& text, Scenario& scenario, bool additionsOnly) {
    Parser parser(scenario, additionsOnly);
    return readScenarioLines(text, [&](const std::string& directive, Fields& f) { parser.line(directive, f); });
}

}  // namespace

const OpInfo& opInfo(Op op) { return kOps[static_cast<std::size_t>(op)]; }

std::optional<Op> opByName(const std::string& name) {
    for (const OpInfo& info : kOps) {
        if (name == info.name) {
            return info.op;
        }
    }
    return std::nullopt;
}

std::optional<Op> opById(std::uint32_t id) {
    for (const OpInfo& info : kOps) {
        if (id == info.id) {
            return info.op;
        }
    }
    return std::nullopt;
}

ParseError parseScenario(const std::string& text, Scenario& out) {
    return readAllOrNothing(text, out, Scenario{},
                            [](const std::string& t, Scenario& s) { return parse(t, s, false); });
}

ParseError parseAdditions(const std::string& text, Scenario& scenario) {
    return readAllOrNothing(text, scenario, scenario,
                            [](const std::string& t, Scenario& s) { return parse(t, s, true); });
}

}  // namespace zxsim
