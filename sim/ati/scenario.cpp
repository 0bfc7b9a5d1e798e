#include "scenario.h"

#include <sstream>

namespace zxsim::ati {

namespace {

struct OpInfo {
    Op op;
    const char* name;
    bool takesGpu;
};

const OpInfo kOps[kOpCount] = {
    {Op::GetODParameters, "GetODParameters", true},
    {Op::GetPMCurrentActivity, "GetPMCurrentActivity", true},
    {Op::GetODPerformanceLevels, "GetODPerformanceLevels", true},
    {Op::SetODPerformanceLevels, "SetODPerformanceLevels", true},
    {Op::GetTemperature, "GetTemperature", true},
    {Op::WriteAndReadI2C, "WriteAndReadI2C", false},
    {Op::WriteAndReadI2CEx, "WriteAndReadI2CEx", true},
    {Op::GetAdapterID, "GetAdapterID", false},
    {Op::GetFanSpeedInfo, "GetFanSpeedInfo", true},
    {Op::GetFanSpeed, "GetFanSpeed", true},
    {Op::SetFanSpeed, "SetFanSpeed", true},
    {Op::SetFanSpeedToDefault, "SetFanSpeedToDefault", true},
};

// "all", "none" or a comma list of adapter indices.
AdapterSet adapters(Fields& f, const std::string& key, AdapterSet fallback) {
    const auto t = f.optionalText(key);
    if (!t) {
        return fallback;
    }
    if (*t == "all") {
        return std::nullopt;
    }
    std::set<std::int32_t> set;
    if (*t == "none") {
        return set;
    }
    std::istringstream in(*t);
    for (std::string item; std::getline(in, item, ',');) {
        const auto n = parseNumber(item, true);
        if (!n || *n < 0 || *n > 0x7FFFFFFF) {
            throw LineError(key + "=" + *t + " is not all, none or a list of adapter indices");
        }
        set.insert(static_cast<std::int32_t>(*n));
    }
    return set;
}

class Parser {
public:
    Parser(Scenario& s, bool additionsOnly) : s_(s), additionsOnly_(additionsOnly) {}

    void line(const std::string& directive, Fields& f) {
        if (directive == "fault") {
            fault(f);
        } else if (directive == "display") {
            Display d;
            const std::int32_t index = f.required("index", 0);
            d.status = f.i32("status").value_or(0);
            d.id = f.i32("id").value_or(1);
            s_.displays[index] = d;
        } else if (additionsOnly_) {
            throw LineError("only fault and display lines can be added to a running scenario");
        } else if (directive == "gpu") {
            gpu(f);
        } else if (directive == "od") {
            od(f);
        } else if (directive == "level") {
            level(f);
        } else if (directive == "activity") {
            Gpu& g = current("activity");
            g.activity = f.i32("percent").value_or(g.activity);
            g.currentLevel = f.i32("current").value_or(g.currentLevel);
            g.voltage = f.i32("voltage");
        } else if (directive == "thermal") {
            current("thermal").milliDegrees = f.required("temp");
        } else if (directive == "fan") {
            fan(f);
        } else if (directive == "pin") {
            Gpu& g = current("pin");
            const auto reg = static_cast<std::uint8_t>(f.required("reg", 0, 0xFF));
            const auto value = static_cast<std::uint8_t>(f.required("value", 0, 0xFF));
            if (!g.pins.poke(reg, value)) {
                throw LineError("the pin controller has no writable register there");
            }
        } else {
            throw LineError("unknown directive '" + directive +
                            "' (gpu, od, level, activity, thermal, fan, pin, display, fault)");
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
        if (s_.gpus.size() >= 3) {
            throw LineError("more than 3 GPUs");
        }
        Gpu g;
        g.location.bus = static_cast<std::uint32_t>(f.i32("bus", 0, 255).value_or(0));
        g.location.device = static_cast<std::uint32_t>(f.i32("device", 0, 31).value_or(0));
        g.location.function = static_cast<std::uint32_t>(f.i32("function", 0, 7).value_or(0));
        // The plain path reaches the first GPU's bus only, unless told.
        g.plain = adapters(f, "plain", s_.gpus.empty() ? AdapterSet{} : AdapterSet{std::set<std::int32_t>{}});
        g.extended = adapters(f, "ex", std::nullopt);
        g.od.engineMin = 10000;
        g.od.engineMax = 200000;
        g.od.engineStep = 500;
        g.od.memoryMin = 10000;
        g.od.memoryMax = 200000;
        g.od.memoryStep = 500;
        g.od.voltageMin = 1000;
        g.od.voltageMax = 1200;
        g.od.voltageStep = 50;
        s_.gpus.push_back(std::move(g));
    }

    void od(Fields& f) {
        Gpu& g = current("od");
        OdParameters& o = g.od;
        const struct {
            const char* key;
            std::int32_t* field;
        } keys[] = {{"emin", &o.engineMin},  {"emax", &o.engineMax},  {"estep", &o.engineStep},
                    {"mmin", &o.memoryMin},  {"mmax", &o.memoryMax},  {"mstep", &o.memoryStep},
                    {"vmin", &o.voltageMin}, {"vmax", &o.voltageMax}, {"vstep", &o.voltageStep}};
        for (const auto& k : keys) {
            *k.field = f.i32(k.key).value_or(*k.field);
        }
        if (const auto count = f.i32("count")) {
            g.levelCount = count;
        }
    }

    void level(Fields& f) {
        Gpu& g = current("level");
        if (g.levels.size() >= 8) {
            throw LineError("more than 8 levels");
        }
        LevelRow row{};
        row.engine = f.required("engine", 0);
        row.memory = f.required("memory", 0);
        row.voltage = f.required("voltage", 0);
        LevelRow def{};
        def.engine = f.i32("dengine", 0).value_or(row.engine);
        def.memory = f.i32("dmemory", 0).value_or(row.memory);
        def.voltage = f.i32("dvoltage", 0).value_or(row.voltage);
        g.levels.push_back(row);
        g.defaults.push_back(def);
    }

    void fan(Fields& f) {
        Gpu& g = current("fan");
        Fan fan;
        fan.min = f.i32("min", 0, 100).value_or(0);
        fan.max = f.i32("max", 0, 100).value_or(100);
        fan.speed = f.i32("speed", 0, 100).value_or(fan.min);
        fan.defaultSpeed = f.i32("default", 0, 100).value_or(fan.speed);
        if (fan.min > fan.max) {
            throw LineError("fan min above max");
        }
        g.fans.push_back(fan);
    }

    void fault(Fields& f) {
        Fault fault;
        fault.op = opField(f, kOps).op;
        fault.status = f.required("status");
        if (const auto gpu = f.i32("gpu", 0, 2)) {
            if (!opTakesGpu(fault.op)) {
                throw LineError(std::string(opName(fault.op)) + " takes no GPU, so gpu= cannot apply");
            }
            fault.gpu = static_cast<std::uint32_t>(*gpu);
        }
        fault.adapter = f.i32("adapter");
        fault.speed = f.i32("speed");
        if (fault.speed && fault.op != Op::WriteAndReadI2C && fault.op != Op::WriteAndReadI2CEx) {
            throw LineError("only the I2C entry points have a speed");
        }
        if (const auto action = f.optionalText("action")) {
            if (fault.op != Op::WriteAndReadI2C && fault.op != Op::WriteAndReadI2CEx) {
                throw LineError("only the I2C entry points have an action");
            }
            if (*action != "read" && *action != "write") {
                throw LineError("action=" + *action + " is not read or write");
            }
            fault.action = *action == "read" ? 1 : 2;
        }
        fault.after = static_cast<std::uint32_t>(f.i32("after", 0).value_or(0));
        fault.times = static_cast<std::uint32_t>(f.i32("times", 0).value_or(0));
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

const char* opName(Op op) { return kOps[static_cast<std::size_t>(op)].name; }

bool opTakesGpu(Op op) { return kOps[static_cast<std::size_t>(op)].takesGpu; }

std::optional<Op> opByName(const std::string& name) {
    for (const OpInfo& info : kOps) {
        if (name == info.name) {
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

}  // namespace zxsim::ati
