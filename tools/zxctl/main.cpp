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

#include "commands.h"
#include "output.h"
#include "records.h"
#include "serve.h"
#include "simulate.h"

namespace zxctl {

namespace {

int fail(const std::string& what, ZXStatus status) {
    std::fprintf(stderr, "zxctl: %s: %s\n", what.c_str(), ZXStatusName(status));
    return exitCodeFor(status);
}

int usageError(const std::string& message) {
    std::fprintf(stderr, "zxctl: %s\nRun 'zxctl --help' for the commands and options.\n", message.c_str());
    return kExitUsage;
}

// Writes an outcome: done to standard output, a problem to standard error.
int report(const Outcome& o) {
    if (o.exit == kExitUsage) {
        return usageError(o.message);
    }
    std::fprintf(o.ok() ? stdout : stderr, "%s%s\n", o.ok() ? "" : "zxctl: ", o.message.c_str());
    return o.exit;
}

// Starts the library; a non-zero result is the exit code (message written).
int start() {
    if (const auto failed = startLibrary()) {
        std::fprintf(stderr, "zxctl: %s\n", failed->message.c_str());
        return failed->exit;
    }
    return kExitOk;
}

// The GPU indices a command works on: the one asked for, or all.
int gpuIndices(int asked, std::vector<std::uint32_t>& out) {
    if (asked >= 0) {
        if (auto bad = checkGpu(static_cast<std::uint32_t>(asked))) {
            return report(*bad);
        }
        out.push_back(static_cast<std::uint32_t>(asked));
        return kExitOk;
    }
    for (std::uint32_t i = 0, n = gpuCount(); i < n; ++i) {
        out.push_back(i);
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
    if (int rc = start()) {
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
    if (int rc = start()) {
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
    if (int rc = start()) {
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

// Runs one setter on the GPU asked for (GPU 0 when none was named).
int cmdSet(const Options& o, SetRequest request) {
    if (int rc = start()) {
        return rc;
    }
    request.gpu = static_cast<std::uint32_t>(o.gpu < 0 ? 0 : o.gpu);
    const int rc = report(applySet(request));
    ZXDeInitLib();
    return rc;
}

int cmdReset(const Options& o, const std::string& what) {
    if (int rc = start()) {
        return rc;
    }
    std::vector<std::uint32_t> gpus;
    if (int rc = gpuIndices(o.gpu < 0 ? 0 : o.gpu, gpus)) {
        ZXDeInitLib();
        return rc;
    }
    int rc = kExitOk;
    for (std::uint32_t g : gpus) {
        for (const ResetResult& r : applyReset(g, resetSteps(what))) {
            if (r.skipped) {
                std::cout << r.outcome.message << " (" << styled(ZXStatusName(r.outcome.status), Style::Muted)
                          << ")\n";
                continue;
            }
            const int code = report(r.outcome);
            rc = code != kExitOk ? code : rc;
            if (r.outcome.status == ZX_STATUS_LOCKED_BY_OTHER) {
                ZXDeInitLib();
                return rc;
            }
        }
    }
    ZXDeInitLib();
    return rc;
}

int cmdLockStatus(const Options& o) {
    if (int rc = start()) {
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
    if (int rc = start()) {
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


// The command line: the parsed values and the commands that take them.
struct CommandLine {
    CLI::App app{"zxctl - look at and tune the graphics cards that ZXDisplayLib supports", "zxctl"};
    std::string simulate;
    bool resetSimulation = false;
    Options o;
    double interval = 1.0;
    unsigned count = 0;
    SetRequest request;
    std::string fanValue;
    int voltageLevel = -1;
    std::uint32_t clockLevel = 0;
    std::uint32_t fanIndex = 0;
    std::string resetWhat;
    ServeOptions serveOptions;
    CLI::App* info = nullptr;
    CLI::App* status = nullptr;
    CLI::App* watch = nullptr;
    CLI::App* reset = nullptr;
    CLI::App* lock = nullptr;
    CLI::App* lockStatus = nullptr;
    CLI::App* serve = nullptr;
    std::vector<std::pair<CLI::App*, const Setting*>> setters;

    void addGpu(CLI::App* c, const char* help) {
        c->add_option("--gpu", o.gpu, help)->type_name("N")->check(CLI::Range(0, 63));
    }
};

void addViewCommands(CommandLine& c) {
    c.info = c.app.add_subcommand("info", "Library version, adapters, backend, GPU count, control modes and "
                                          "card description");
    c.info->add_flag("--json", c.o.json, "Print JSON");
    c.status = c.app.add_subcommand("status", "Temperature, usage, performance level, clocks, voltages, "
                                              "regulator levels and fan of each GPU");
    c.status->add_flag("--json", c.o.json, "Print JSON");
    c.addGpu(c.status, "Only this GPU (0-based)");

    c.watch = c.app.add_subcommand("watch", "One line per GPU per sample until interrupted (Ctrl-C)");
    c.watch->add_flag("--json", c.o.json, "Print JSON Lines");
    c.watch->add_option("--interval", c.interval, "Seconds between samples (default 1)")
        ->type_name("SECONDS")->check(CLI::Range(0.1, 3600.0));
    c.watch->add_option("--count", c.count, "Stop after this many samples (default: until interrupted)")
        ->type_name("N")->check(CLI::Range(1u, 1000000u));
    c.addGpu(c.watch, "Only this GPU (0-based)");
}

// One subcommand of set per setting of the command model.
void addSetCommands(CommandLine& c) {
    auto* set = c.app.add_subcommand("set", "Change a clock, voltage, regulator level or the fan");
    set->require_subcommand(1, 1);
    SetRequest& q = c.request;
    for (const Setting& s : settings()) {
        const std::string name = s.name;
        CLI::App* sc = nullptr;
        if (s.needsLevel) {
            sc = set->add_subcommand(name, std::string("Set the ") + s.label + " of one performance level");
            sc->add_option("LEVEL", c.clockLevel, "Performance level (0-3)")->required()->check(CLI::Range(0u, 3u));
            sc->add_option("MHZ", q.value, "Clock in MHz")->required()->check(CLI::Range(1u, 100000u));
        } else if (name == "voltage") {
            sc = set->add_subcommand(name, "Set the GPU voltage of every level, or of one with --level");
            sc->add_option("VALUE", q.value, "Voltage in the card data file's units")->required()
                ->check(CLI::Range(0u, 100000u));
            sc->add_option("--level", c.voltageLevel, "Only this performance level (0-3)")->type_name("LEVEL")
                ->check(CLI::Range(0, 3));
        } else if (name == "fan") {
            sc = set->add_subcommand(name, "Set the fan speed in percent, or 'auto' to hand it back to the driver");
            sc->add_option("PERCENT", c.fanValue, "0-100, or auto")->required()
                ->check(CLI::IsMember({"auto"}) | CLI::Range(0, 100));
            sc->add_option("--fan", c.fanIndex, "Fan index (ATI cards; default 0)")->type_name("N")
                ->check(CLI::Range(0u, 7u));
        } else {
            sc = set->add_subcommand(name, std::string("Set the ") + s.label);
            sc->add_option("LEVEL", q.value, "Level")->required()->check(CLI::Range(0u, 255u));
        }
        c.addGpu(sc, "GPU (0-based, default 0)");
        c.setters.emplace_back(sc, &s);
    }
}

void addOtherCommands(CommandLine& c) {
    std::string words;
    for (const std::string& w : resetWords()) {
        words += (words.empty() ? "" : "|") + w;
    }
    c.reset = c.app.add_subcommand("reset", "Restore defaults: clocks, voltage, memory-voltage, pwm, fan or all");
    c.reset->add_option("WHAT", c.resetWhat, words)->required()->check(CLI::IsMember(resetWords()));
    c.addGpu(c.reset, "GPU (0-based, default 0)");

    c.lock = c.app.add_subcommand("lock", "Show or hold the card lock");
    c.lock->require_subcommand(1, 1);
    c.lockStatus = c.lock->add_subcommand("status", "Whether the card lock is free or held, and by whom");
    c.lockStatus->add_flag("--json", c.o.json, "Print JSON");
    c.lock->add_subcommand("hold", "Hold the card lock until interrupted (Ctrl-C), so that no other process "
                                   "can change the card meanwhile");

    c.serve = c.app.add_subcommand("serve", "A live dashboard in the browser on this machine's address "
                                            "127.0.0.1 (see docs/dashboard.md); runs until Ctrl-C");
    c.serve->add_option("--port", c.serveOptions.port, "TCP port (default: any free port)")->type_name("N")
        ->check(CLI::Range(0, 65535));
    c.serve->add_option("--bind", c.serveOptions.bind, "Address to listen on (default 127.0.0.1; any other "
                                                       "lets other machines reach the dashboard)")
        ->type_name("ADDRESS");
}

int dispatch(CommandLine& c) {
    if (c.serve->parsed()) {
        return serve(c.serveOptions);
    }
    if (c.info->parsed()) {
        return cmdInfo(c.o);
    }
    if (c.status->parsed()) {
        return cmdStatus(c.o);
    }
    if (c.watch->parsed()) {
        return cmdWatch(c.o, c.interval, c.count);
    }
    if (c.reset->parsed()) {
        return cmdReset(c.o, c.resetWhat);
    }
    if (c.lock->parsed()) {
        return c.lockStatus->parsed() ? cmdLockStatus(c.o) : cmdLockHold();
    }
    for (const auto& [sc, s] : c.setters) {
        if (sc->parsed()) {
            SetRequest q = c.request;
            q.what = s->name;
            if (s->needsLevel) {
                q.level = c.clockLevel;
            }
            if (q.what == "voltage" && c.voltageLevel >= 0) {
                q.level = static_cast<std::uint32_t>(c.voltageLevel);
            }
            if (q.what == "fan") {
                q.fan = c.fanIndex;
                q.fanAuto = c.fanValue == "auto";
                q.value = q.fanAuto ? 0 : static_cast<std::uint32_t>(std::stoul(c.fanValue));
            }
            return cmdSet(c.o, q);
        }
    }
    return usageError("no command");
}

}  // namespace

int run(int argc, char** argv) {
    CommandLine c;
    c.app.set_help_all_flag("--help-all", "Print the help of every command");
    c.app.set_version_flag("--version", std::string("zxctl ") + ZXDISPLAY_VERSION_STRING);
    c.app.footer(kFooter);
    c.app.require_subcommand(1, 1);
    auto* simOpt = c.app.add_option("--simulate", c.simulate, simulateHelp())->type_name("NAME");
    c.app.add_flag("--reset-simulation", c.resetSimulation, "With --simulate: start the simulated machine afresh")
        ->needs(simOpt);
    addViewCommands(c);
    addSetCommands(c);
    addOtherCommands(c);

    try {
        c.app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return c.app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return c.app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return c.app.exit(e);
    } catch (const CLI::ParseError& e) {
        return usageError(e.what());
    }

    if (!c.simulate.empty()) {
        const char* inside = std::getenv(kSimulatedEnv);
        if (inside == nullptr || c.simulate != inside) {
            return enterSimulation(c.simulate, c.resetSimulation, argv);
        }
    }
    return dispatch(c);
}

}  // namespace zxctl

int main(int argc, char** argv) { return zxctl::run(argc, argv); }
