// zxctl: looks at and tunes graphics cards from a terminal, through the public
// header and libzxdisplay only, as any application does. See docs/zxctl.md.
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <iostream>
#include <set>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>
#include <zxdisplay.h>

#include "output.h"
#include "records.h"
#include "serve.h"
#include "simulate.h"

namespace zxctl {

namespace {

// Exit codes (docs/zxctl.md).
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNotSupported = 3;
constexpr int kExitNoCard = 4;
constexpr int kExitLocked = 5;
constexpr int kExitMismatch = 6;

int exitCodeFor(ZXStatus status) {
    switch (status) {
    case ZX_STATUS_OK: return kExitOk;
    case ZX_STATUS_NOT_SUPPORTED: return kExitNotSupported;
    case ZX_STATUS_NOT_INITIALISED: return kExitNoCard;
    case ZX_STATUS_LOCKED_BY_OTHER: return kExitLocked;
    case ZX_STATUS_ADAPTER_MISMATCH: return kExitMismatch;
    default: return kExitFailed;
    }
}

int fail(const std::string& what, ZXStatus status) {
    std::fprintf(stderr, "zxctl: %s: %s\n", what.c_str(), ZXStatusName(status));
    return exitCodeFor(status);
}

int usageError(const std::string& message) {
    std::fprintf(stderr, "zxctl: %s\nRun 'zxctl --help' for the commands and options.\n", message.c_str());
    return kExitUsage;
}

// Starts the library; a non-zero result is the exit code (message written).
int startLibrary() {
    const ZXStatus s = ZXInitLib();
    if (s == ZX_STATUS_OK) {
        return kExitOk;
    }
    if (s == ZX_STATUS_ADAPTER_MISMATCH) {
        return fail("cannot start the library", s);
    }
    std::fprintf(stderr, "zxctl: cannot start the library: no supported card was found, or its driver "
                         "library could not be used (%s)\n", ZXStatusName(s));
    return kExitNoCard;
}

// The GPU indices a command works on: the one asked for, or all.
int gpuIndices(int asked, std::vector<std::uint32_t>& out) {
    std::uint32_t count = 0;
    if (const ZXStatus s = ZXGetGpuCount(&count); s != ZX_STATUS_OK) {
        return fail("GPU count", s);
    }
    if (asked >= 0 && static_cast<std::uint32_t>(asked) >= count) {
        return usageError("GPU " + std::to_string(asked) + " does not exist (this machine has " +
                          std::to_string(count) + (count == 1 ? " GPU)" : " GPUs)"));
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        if (asked < 0 || static_cast<std::uint32_t>(asked) == i) {
            out.push_back(i);
        }
    }
    return kExitOk;
}

// ---- Text rendering of those readings --------------------------------------

Cell naCell(const json& obj, const std::string& key) {
    std::string reason = "n/a";
    if (obj.contains("unavailable") && obj["unavailable"].contains(key)) {
        reason += " (" + obj["unavailable"][key].get<std::string>() + ")";
    }
    return {reason, Style::Muted};
}

std::string rangeText(const json& r) {
    return std::to_string(r["min"].get<std::uint32_t>()) + "-" + std::to_string(r["max"].get<std::uint32_t>()) +
           " step " + std::to_string(r["step"].get<std::uint32_t>());
}

Cell valueCell(const json& obj, const std::string& key, const std::string& unit = "") {
    const json& v = obj[key];
    if (v.is_null()) {
        return naCell(obj, key);
    }
    if (v.is_object()) {
        return {rangeText(v)};
    }
    return {std::to_string(v.get<std::uint32_t>()) + unit};
}

Cell levelCell(const json& obj, const std::string& key, std::size_t level) {
    const json& v = obj[key];
    if (v.is_null()) {
        return naCell(obj, key);
    }
    if (level >= v.size()) {
        return {"-", Style::Muted};
    }
    if (v[level].is_null()) {
        return naCell(obj, key);
    }
    return v[level].is_object() ? Cell{rangeText(v[level])} : Cell{std::to_string(v[level].get<std::uint32_t>())};
}

// A label followed by values (each after its own label, the first after the
// row's); when none is available for one reason, one "n/a (reason)" stands
// for them all.
struct Part {
    const char* key;
    const char* label;
    const char* unit;
};

std::vector<Cell> groupRow(const std::string& label, const json& obj, const std::vector<Part>& parts) {
    std::vector<Cell> cells{{label}};
    std::set<std::string> reasons;
    bool allMissing = true;
    for (const Part& p : parts) {
        allMissing = allMissing && obj[p.key].is_null();
        reasons.insert(naCell(obj, p.key).text);
    }
    if (allMissing && reasons.size() == 1) {
        cells.push_back({*reasons.begin(), Style::Muted});
        return cells;
    }
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) {
            cells.push_back({parts[i].label});
        }
        cells.push_back(valueCell(obj, parts[i].key, parts[i].unit));
    }
    return cells;
}

void printGpuText(const json& g) {
    std::cout << styled("GPU " + std::to_string(g["gpu"].get<std::uint32_t>()), Style::Heading) << "\n";
    Table t("  ");
    t.row({{"Temperature"}, valueCell(g, "temperature_c", " °C")});
    t.row({{"Usage"}, valueCell(g, "usage_percent", " %")});
    t.row({{"Performance level"}, valueCell(g, "current_level")});
    const json& v = g["voltage"];
    t.row(groupRow("GPU voltage", v, {{"current", "", ""}, {"current_vid_level", "VID level", ""}}));
    t.row(groupRow("GPU voltage range", v, {{"range", "", ""}, {"default_2d", "2D default", ""}}));
    t.row(groupRow("Memory voltage level", g["memory_voltage"],
                   {{"level", "", ""}, {"default", "default", ""}, {"range", "range", ""}}));
    t.row(groupRow("PWM clock level", g["pwm"],
                   {{"level", "", ""}, {"default", "default", ""}, {"range", "range", ""}}));
    t.row(groupRow("DAC level", g["dac"], {{"level", "", ""}}));
    t.row(groupRow("Fan", g["fan"], {{"percent", "", " %"}, {"range", "range", ""}}));
    std::cout << t.render() << "\n";

    Table levels("  ");
    levels.header({"Setting", "Level", "Current", "Default", "Range"});
    for (const ClockDomain& d : kClockDomains) {
        const json& c = g["clocks"][d.key];
        const std::size_t n = std::max(c["mhz"].is_array() ? c["mhz"].size() : 0,
                                       c["default_mhz"].is_array() ? c["default_mhz"].size() : 0);
        if (n == 0) {
            levels.row({{d.label}, {"-"}, {""}, {""}, naCell(c, "mhz")});
        }
        for (std::size_t l = 0; l < n; ++l) {
            levels.row({{l == 0 ? d.label : ""}, {std::to_string(l)}, levelCell(c, "mhz", l),
                        levelCell(c, "default_mhz", l), levelCell(c, "ranges", l)});
        }
    }
    const std::size_t nv = std::max(v["levels"].is_array() ? v["levels"].size() : 0,
                                    v["defaults"].is_array() ? v["defaults"].size() : 0);
    if (nv == 0) {
        levels.row({{"GPU voltage"}, {"-"}, {""}, {""}, naCell(v, "levels")});
    }
    for (std::size_t l = 0; l < nv; ++l) {
        levels.row({{l == 0 ? "GPU voltage" : ""}, {std::to_string(l)}, levelCell(v, "levels", l),
                    levelCell(v, "defaults", l), valueCell(v, "range")});
    }
    std::cout << levels.render();
}

// ---- Commands --------------------------------------------------------------

struct Options {
    bool json = false;
    int gpu = -1;
};

int cmdInfo(const Options& o) {
    if (int rc = startLibrary()) {
        return rc;
    }
    json j = infoJson();
    const std::string file = j["library"]["file"].get<std::string>();
    ZXDeInitLib();

    if (o.json) {
        std::cout << j.dump(2) << "\n";
        return kExitOk;
    }
    Table t;
    t.row({{"Library"}, {"ZXDisplayLib " + j["library"]["version"].get<std::string>() + " (" + file + ")"}});
    if (!j["simulated"].is_null()) {
        const std::string name = j["simulated"].get<std::string>();
        const std::string about = machineDescription(name);
        t.row({{"Simulated machine"}, {name + (about.empty() ? "" : ": " + about)}});
    }
    t.row({{"Backend"}, {j["backend"].get<std::string>()}});
    t.row({{"GPUs"}, valueCell(j, "gpu_count")});
    std::string modes;
    if (j["control_modes"].is_array()) {
        for (const auto& m : j["control_modes"]) {
            modes += (modes.empty() ? "" : ", ") + m.get<std::string>();
        }
    }
    t.row({{"Control modes"},
           j["control_modes"].is_null() ? naCell(j, "control_modes") : Cell{modes.empty() ? "none" : modes}});
    std::cout << t.render() << "\n";
    Table ad;
    ad.header({"Adapter", "Kind", "Vendor", "Device", "Subsystem", "Subsystem vendor", "CardId"});
    for (const auto& e : j["adapters"]) {
        ad.row({{std::to_string(e["index"].get<std::uint32_t>())}, {e["kind"].get<std::string>()},
                {e["vendor_id"].get<std::string>()}, {e["device_id"].get<std::string>()},
                {e["subsystem_id"].get<std::string>()}, {e["subsystem_vendor_id"].get<std::string>()},
                {e["card_id"].get<std::string>()}});
    }
    std::cout << ad.render();
    if (j["descriptions"].is_array() && !j["descriptions"].empty()) {
        std::cout << "\n" << styled("Card description", Style::Heading) << "\n";
        for (const auto& d : j["descriptions"]) {
            std::cout << "  " << d.get<std::string>() << "\n";
        }
    }
    return kExitOk;
}

int cmdStatus(const Options& o) {
    if (int rc = startLibrary()) {
        return rc;
    }
    std::vector<std::uint32_t> gpus;
    if (int rc = gpuIndices(o.gpu, gpus)) {
        return rc;
    }
    json j;
    j["simulated"] = simulatedJson();
    j["gpus"] = json::array();
    for (std::uint32_t g : gpus) {
        j["gpus"].push_back(gpuStatus(g));
    }
    ZXDeInitLib();
    if (o.json) {
        std::cout << j.dump(2) << "\n";
        return kExitOk;
    }
    for (std::size_t i = 0; i < j["gpus"].size(); ++i) {
        if (i > 0) {
            std::cout << "\n";
        }
        printGpuText(j["gpus"][i]);
    }
    return kExitOk;
}

// Blocks the signals that end watch and lock hold, so they are taken by
// sigtimedwait and the commands end cleanly (the lock given back).
sigset_t endSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    sigprocmask(SIG_BLOCK, &set, nullptr);
    return set;
}

std::string compact(const json& j, const char* key, const std::string& unit) {
    return j[key].is_null() ? std::string("n/a") : std::to_string(j[key].get<std::uint32_t>()) + unit;
}

int cmdWatch(const Options& o, double interval, unsigned count) {
    if (int rc = startLibrary()) {
        return rc;
    }
    std::vector<std::uint32_t> gpus;
    if (int rc = gpuIndices(o.gpu, gpus)) {
        return rc;
    }
    const sigset_t set = endSignals();
    for (unsigned n = 0; count == 0 || n < count; ++n) {
        if (n > 0) {
            timespec ts{};
            ts.tv_sec = static_cast<time_t>(interval);
            ts.tv_nsec = static_cast<long>((interval - static_cast<double>(ts.tv_sec)) * 1e9);
            if (sigtimedwait(&set, nullptr, &ts) > 0) {
                break;
            }
        }
        for (std::uint32_t g : gpus) {
            const json s = watchSample(g);
            if (o.json) {
                std::cout << s.dump() << "\n";
            } else {
                std::cout << s["time"].get<std::string>().substr(11, 8) << "  GPU " << g << "  "
                          << compact(s, "temperature_c", " °C") << "  usage " << compact(s, "usage_percent", " %")
                          << "  level " << compact(s, "current_level", "") << "  gpu "
                          << compact(s, "gpu_mhz", " MHz") << "  memory " << compact(s, "memory_mhz", " MHz")
                          << "  shader " << compact(s, "shader_mhz", " MHz") << "  voltage "
                          << compact(s, "voltage", "") << "  fan " << compact(s, "fan_percent", " %") << "\n";
            }
        }
        std::cout.flush();
    }
    ZXDeInitLib();
    return kExitOk;
}

// Runs one setter on every GPU asked for (GPU 0 when none was named).
using RangeGetter = std::function<ZXStatus(std::uint32_t, ZXRangeInfo*)>;

int runSetter(const Options& o, const std::string& what, const std::function<ZXStatus(std::uint32_t)>& setter,
              const std::string& done, const RangeGetter& range = nullptr, std::uint32_t value = 0) {
    if (int rc = startLibrary()) {
        return rc;
    }
    std::vector<std::uint32_t> gpus;
    if (int rc = gpuIndices(o.gpu < 0 ? 0 : o.gpu, gpus)) {
        return rc;
    }
    for (std::uint32_t g : gpus) {
        // A value outside the range the card reports is the caller's mistake.
        ZXRangeInfo r{};
        if (range && range(g, &r) == ZX_STATUS_OK && (value < r.minimum || value > r.maximum)) {
            ZXDeInitLib();
            return usageError(what + ": " + std::to_string(value) + " is outside the card's range " +
                              std::to_string(r.minimum) + "-" + std::to_string(r.maximum));
        }
        if (const ZXStatus s = setter(g); s != ZX_STATUS_OK) {
            const int rc = fail(what + " (GPU " + std::to_string(g) + ")", s);
            ZXDeInitLib();
            return rc;
        }
        std::cout << "GPU " << g << ": " << done << "\n";
    }
    ZXDeInitLib();
    return kExitOk;
}

struct ResetStep {
    const char* group;
    const char* label;
    std::function<ZXStatus(std::uint32_t)> run;
};

int cmdReset(const Options& o, const std::string& what) {
    const std::vector<ResetStep> steps = {
        {"clocks", "GPU clocks", ZXSetGPUClockDefault},
        {"clocks", "memory clocks", ZXSetMemoryClockDefault},
        {"clocks", "shader clocks", ZXSetShaderClockDefault},
        {"voltage", "GPU voltage", ZXSetVoltageDefault},
        {"memory-voltage", "memory voltage level", ZXSetMemoryVoltageDefault},
        {"pwm", "PWM clock level", ZXSetPWMClockDefault},
        {"fan", "fan", [](std::uint32_t g) { return ZXSetFanSpeedDefault(g, 0, 0); }},
    };
    if (int rc = startLibrary()) {
        return rc;
    }
    std::vector<std::uint32_t> gpus;
    if (int rc = gpuIndices(o.gpu < 0 ? 0 : o.gpu, gpus)) {
        return rc;
    }
    // With several things to reset, what the card lacks is skipped; asked for
    // alone, it is an error.
    std::size_t selected = 0;
    for (const auto& step : steps) {
        selected += what == "all" || what == step.group ? 1 : 0;
    }
    int rc = kExitOk;
    for (std::uint32_t g : gpus) {
        for (const auto& step : steps) {
            if (what != "all" && what != step.group) {
                continue;
            }
            const ZXStatus s = step.run(g);
            if (s == ZX_STATUS_OK) {
                std::cout << "GPU " << g << ": " << step.label << " back to default\n";
            } else if (s == ZX_STATUS_NOT_SUPPORTED && selected > 1) {
                std::cout << "GPU " << g << ": " << step.label << " skipped ("
                          << styled(ZXStatusName(s), Style::Muted) << ")\n";
            } else {
                rc = fail(std::string("reset ") + step.label + " (GPU " + std::to_string(g) + ")", s);
                if (s == ZX_STATUS_LOCKED_BY_OTHER) {
                    ZXDeInitLib();
                    return rc;
                }
            }
        }
    }
    ZXDeInitLib();
    return rc;
}

int cmdLockStatus(const Options& o) {
    if (int rc = startLibrary()) {
        return rc;
    }
    std::uint32_t status = 0;
    const ZXStatus s = ZXGetLockLibStatus(&status);
    ZXDeInitLib();
    if (s != ZX_STATUS_OK) {
        return fail("lock status", s);
    }
    if (o.json) {
        std::cout << json{{"lock", lockText(status)}}.dump() << "\n";
    } else {
        std::cout << "Card lock: " << lockText(status) << "\n";
    }
    return kExitOk;
}

int cmdLockHold() {
    if (int rc = startLibrary()) {
        return rc;
    }
    const sigset_t set = endSignals();
    if (const ZXStatus s = ZXSetLockLibStatus(1); s != ZX_STATUS_OK) {
        std::uint32_t status = 0;
        ZXGetLockLibStatus(&status);
        ZXDeInitLib();
        return status == ZX_LOCK_HELD_ELSEWHERE ? fail("lock hold", ZX_STATUS_LOCKED_BY_OTHER)
                                                : fail("lock hold", s);
    }
    std::cout << "Holding the card lock; press Ctrl-C to give it back." << std::endl;
    int sig = 0;
    sigwait(&set, &sig);
    ZXSetLockLibStatus(0);
    ZXDeInitLib();
    std::cout << "Card lock given back." << std::endl;
    return kExitOk;
}

std::string simulateHelp() {
    std::string names;
    for (const auto& m : simulatedMachines()) {
        names += (names.empty() ? "" : ", ") + m;
    }
    return "Run against the bundled simulated machine NAME instead of this machine's cards; its state "
           "persists between runs (" + (names.empty() ? std::string("none installed") : names) + ")";
}

const char* kFooter =
    "Exit codes: 0 success; 1 the card or its driver failed; 2 usage error; 3 not supported by this card;\n"
    "4 no usable card (the library did not start); 5 locked by another process; 6 adapters are not all\n"
    "the same card model; 7 the simulated machine could not be prepared.\n"
    "Colour is used only on a terminal and never when NO_COLOR is set. See docs/zxctl.md.";

}  // namespace

int run(int argc, char** argv) {
    CLI::App app{"zxctl - look at and tune the graphics cards that ZXDisplayLib supports", "zxctl"};
    app.set_help_all_flag("--help-all", "Print the help of every command");
    app.set_version_flag("--version", std::string("zxctl ") + ZXDISPLAY_VERSION_STRING);
    app.footer(kFooter);
    app.require_subcommand(1, 1);

    std::string simulate;
    bool resetSimulation = false;
    auto* simOpt = app.add_option("--simulate", simulate, simulateHelp())->type_name("NAME");
    app.add_flag("--reset-simulation", resetSimulation, "With --simulate: start the simulated machine afresh")
        ->needs(simOpt);

    Options o;
    auto addGpu = [&o](CLI::App* c, const char* help) {
        c->add_option("--gpu", o.gpu, help)->type_name("N")->check(CLI::Range(0, 63));
    };
    auto* info = app.add_subcommand("info", "Library version, adapters, backend, GPU count, control modes and "
                                            "card description");
    info->add_flag("--json", o.json, "Print JSON");
    auto* status = app.add_subcommand("status", "Temperature, usage, performance level, clocks, voltages, "
                                                "regulator levels and fan of each GPU");
    status->add_flag("--json", o.json, "Print JSON");
    addGpu(status, "Only this GPU (0-based)");

    double interval = 1.0;
    unsigned count = 0;
    auto* watch = app.add_subcommand("watch", "One line per GPU per sample until interrupted (Ctrl-C)");
    watch->add_flag("--json", o.json, "Print JSON Lines");
    watch->add_option("--interval", interval, "Seconds between samples (default 1)")
        ->type_name("SECONDS")->check(CLI::Range(0.1, 3600.0));
    watch->add_option("--count", count, "Stop after this many samples (default: until interrupted)")
        ->type_name("N")->check(CLI::Range(1u, 1000000u));
    addGpu(watch, "Only this GPU (0-based)");

    auto* set = app.add_subcommand("set", "Change a clock, voltage, regulator level or the fan");
    set->require_subcommand(1, 1);
    std::uint32_t level = 0;
    std::uint32_t value = 0;
    int voltageLevel = -1;
    std::string fanValue;
    std::uint32_t fan = 0;
    struct ClockSet {
        const char* name;
        const char* label;
        ZXStatus (*fn)(std::uint32_t, std::uint32_t, std::uint32_t);
        ZXStatus (*infoEx)(std::uint32_t, std::uint32_t, ZXRangeInfo*);
    };
    const ClockSet clockSets[] = {
        {"gpu-clock", "GPU clock", ZXSetPerformanceLevelGPUClock, ZXGetGPUClockInfoEx},
        {"memory-clock", "memory clock", ZXSetPerformanceLevelMemoryClock, ZXGetMemoryClockInfoEx},
        {"shader-clock", "shader clock", ZXSetPerformanceLevelShaderClock, ZXGetShaderClockInfoEx}};
    std::vector<std::pair<CLI::App*, const ClockSet*>> clockCommands;
    for (const ClockSet& c : clockSets) {
        auto* sc = set->add_subcommand(c.name, std::string("Set the ") + c.label + " of one performance level");
        sc->add_option("LEVEL", level, "Performance level (0-3)")->required()->check(CLI::Range(0u, 3u));
        sc->add_option("MHZ", value, "Clock in MHz")->required()->check(CLI::Range(1u, 100000u));
        addGpu(sc, "GPU (0-based, default 0)");
        clockCommands.emplace_back(sc, &c);
    }
    auto* setVoltage = set->add_subcommand("voltage", "Set the GPU voltage of every level, or of one with --level");
    setVoltage->add_option("VALUE", value, "Voltage in the card data file's units")->required()
        ->check(CLI::Range(0u, 100000u));
    setVoltage->add_option("--level", voltageLevel, "Only this performance level (0-3)")->type_name("LEVEL")
        ->check(CLI::Range(0, 3));
    addGpu(setVoltage, "GPU (0-based, default 0)");
    struct LevelSet {
        const char* name;
        const char* label;
        ZXStatus (*fn)(std::uint32_t, std::uint32_t);
    };
    const LevelSet levelSets[] = {{"memory-voltage", "memory voltage level", ZXSetCurrentMemoryVoltageLevel},
                                  {"pwm", "PWM clock level", ZXSetCurrentPWMClockLevel},
                                  {"dac", "DAC level", ZXSetDACLevel}};
    std::vector<std::pair<CLI::App*, const LevelSet*>> levelCommands;
    for (const LevelSet& l : levelSets) {
        auto* sc = set->add_subcommand(l.name, std::string("Set the ") + l.label);
        sc->add_option("LEVEL", value, "Level")->required()->check(CLI::Range(0u, 255u));
        addGpu(sc, "GPU (0-based, default 0)");
        levelCommands.emplace_back(sc, &l);
    }
    auto* setFan = set->add_subcommand("fan", "Set the fan speed in percent, or 'auto' to hand it back to the "
                                              "driver");
    setFan->add_option("PERCENT", fanValue, "0-100, or auto")->required()
        ->check(CLI::IsMember({"auto"}) | CLI::Range(0, 100));
    setFan->add_option("--fan", fan, "Fan index (ATI cards; default 0)")->type_name("N")->check(CLI::Range(0u, 7u));
    addGpu(setFan, "GPU (0-based, default 0)");

    std::string resetWhat;
    auto* reset = app.add_subcommand("reset", "Restore defaults: clocks, voltage, memory-voltage, pwm, fan or all");
    reset->add_option("WHAT", resetWhat, "clocks|voltage|memory-voltage|pwm|fan|all")->required()
        ->check(CLI::IsMember({"clocks", "voltage", "memory-voltage", "pwm", "fan", "all"}));
    addGpu(reset, "GPU (0-based, default 0)");

    auto* lock = app.add_subcommand("lock", "Show or hold the card lock");
    lock->require_subcommand(1, 1);
    auto* lockStatus = lock->add_subcommand("status", "Whether the card lock is free or held, and by whom");
    lockStatus->add_flag("--json", o.json, "Print JSON");
    lock->add_subcommand("hold", "Hold the card lock until interrupted (Ctrl-C), so that no other process "
                                 "can change the card meanwhile");

    ServeOptions serveOptions;
    auto* serveCmd = app.add_subcommand("serve", "A live dashboard in the browser on this machine's address "
                                                 "127.0.0.1 (see docs/dashboard.md); runs until Ctrl-C");
    serveCmd->add_option("--port", serveOptions.port, "TCP port (default: any free port)")->type_name("N")
        ->check(CLI::Range(0, 65535));
    serveCmd->add_option("--bind", serveOptions.bind, "Address to listen on (default 127.0.0.1; any other "
                                                      "lets other machines reach the dashboard)")
        ->type_name("ADDRESS");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        return usageError(e.what());
    }

    if (!simulate.empty()) {
        const char* inside = std::getenv(kSimulatedEnv);
        if (inside == nullptr || simulate != inside) {
            return enterSimulation(simulate, resetSimulation, argv);
        }
    }

    if (serveCmd->parsed()) {
        return serve(serveOptions);
    }
    if (info->parsed()) {
        return cmdInfo(o);
    }
    if (status->parsed()) {
        return cmdStatus(o);
    }
    if (watch->parsed()) {
        return cmdWatch(o, interval, count);
    }
    if (reset->parsed()) {
        return cmdReset(o, resetWhat);
    }
    if (lock->parsed()) {
        return lockStatus->parsed() ? cmdLockStatus(o) : cmdLockHold();
    }
    for (const auto& [sc, c] : clockCommands) {
        if (sc->parsed()) {
            const std::string what = std::string("set ") + c->name;
            const auto fn = c->fn;
            const auto infoEx = c->infoEx;
            return runSetter(
                o, what, [&](std::uint32_t g) { return fn(g, level, value); },
                std::string(c->label) + " of level " + std::to_string(level) + " set to " + std::to_string(value) +
                    " MHz",
                [&](std::uint32_t g, ZXRangeInfo* r) { return infoEx(g, level, r); }, value);
        }
    }
    for (const auto& [sc, l] : levelCommands) {
        if (sc->parsed()) {
            const auto fn = l->fn;
            return runSetter(o, std::string("set ") + l->name, [&](std::uint32_t g) { return fn(g, value); },
                             std::string(l->label) + " set to " + std::to_string(value));
        }
    }
    if (setVoltage->parsed()) {
        if (voltageLevel >= 0) {
            return runSetter(
                o, "set voltage",
                [&](std::uint32_t g) {
                    return ZXSetPerformanceVoltageLevel(g, static_cast<std::uint32_t>(voltageLevel), value);
                },
                "GPU voltage of level " + std::to_string(voltageLevel) + " set to " + std::to_string(value));
        }
        return runSetter(o, "set voltage", [&](std::uint32_t g) { return ZXSetCurrentVoltageLevel(g, value); },
                         "GPU voltage of every level set to " + std::to_string(value));
    }
    if (setFan->parsed()) {
        if (fanValue == "auto") {
            return runSetter(o, "set fan", [&](std::uint32_t g) { return ZXSetFanSpeedDefault(g, fan, 0); },
                             "fan handed back to the driver");
        }
        const auto percent = static_cast<std::uint32_t>(std::stoul(fanValue));
        return runSetter(
            o, "set fan", [&](std::uint32_t g) { return ZXSetFanSpeed(g, fan, percent, 0); },
            "fan set to " + std::to_string(percent) + " %",
            [&](std::uint32_t g, ZXRangeInfo* r) { return ZXGetFanSpeedInfo(g, fan, r, 0); }, percent);
    }
    return usageError("no command");
}

}  // namespace zxctl

int main(int argc, char** argv) { return zxctl::run(argc, argv); }
