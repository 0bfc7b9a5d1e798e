// zxctl: looks at and tunes graphics cards from a terminal, through the public
// header and libzxdisplay only, as any application does. See docs/zxctl.md.
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>
#include <zxdisplay.h>

#include "apply.h"
#include "commands.h"
#include "daemon.h"
#include "output.h"
#include "records.h"
#include "serve.h"
#include "simulate.h"
#include "view.h"

namespace zxctl {

namespace {

int fail(const std::string& what, ZXStatus status) {
    std::fprintf(stderr, "zxctl: %s: %s\n", what.c_str(), ZXStatusName(status));
    return exitCodeFor(status);
}

// A usage problem: one line on standard error.
int usageError(const std::string& message) {
    std::fprintf(stderr, "zxctl: %s\n", message.c_str());
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

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char ch) { return std::tolower(ch); });
    return s;
}

// The GPU indices of -i/--id: one index, a comma-separated list, or "all";
// when none was given, all of them or GPU 0 as the command says.
int gpuIndices(const std::string& ids, bool allByDefault, std::vector<std::uint32_t>& out) {
    const std::string words = lower(ids);
    if (words == "all" || (words.empty() && allByDefault)) {
        for (std::uint32_t i = 0, n = gpuCount(); i < n; ++i) {
            out.push_back(i);
        }
        return kExitOk;
    }
    std::istringstream in(words.empty() ? std::string("0") : words);
    std::string word;
    while (std::getline(in, word, ',')) {
        const auto gpu = parseDecimal(word);
        if (!gpu) {
            return usageError("--id: '" + word + "' is not a GPU index (a list such as 0,1 or 'all' also do)");
        }
        if (auto bad = checkGpu(*gpu)) {
            return report(*bad);
        }
        if (std::find(out.begin(), out.end(), *gpu) == out.end()) {
            out.push_back(*gpu);
        }
    }
    return out.empty() ? usageError("--id: no GPU named") : kExitOk;
}

// A decimal word of the command line, or a usage error naming it.
std::optional<std::uint32_t> decimalWord(const std::string& context, const std::string& word, int& rc) {
    const auto v = parseDecimal(word);
    if (!v) {
        rc = usageError(context + ": '" + word + "' is not a whole number in decimal digits");
    }
    return v;
}

// ---- Commands --------------------------------------------------------------

enum class Format { Text, Json, Csv };

struct Options {
    Format format = Format::Text;
    std::string ids;          // -i/--id
    unsigned loopMs = 0;      // -l/--loop: 0 for once (status) or every second (watch)
    unsigned count = 0;       // --count: 0 for until interrupted
};

// Waits ms milliseconds; false when an ending signal came first.
bool pause(const sigset_t& set, unsigned ms) {
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(ms / 1000);
    ts.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
    return sigtimedwait(&set, nullptr, &ts) <= 0;
}

// Standard output could not take what was written (a full disk, a closed
// pipe): the command fails.
bool outputBroken() { return std::fflush(stdout) != 0 || std::ferror(stdout) != 0 || !std::cout; }

int cmdInfo(const Options& o) {
    if (o.format == Format::Csv) {
        return usageError("info: --format csv is not offered (text or json)");
    }
    if (int rc = start()) {
        return rc;
    }
    json j = infoJson();
    ZXDeInitLib();
    if (o.format == Format::Json) {
        std::cout << j.dump(2) << "\n";
    } else {
        printInfoText(j);
    }
    return kExitOk;
}

void printStatus(const Options& o, const std::vector<std::uint32_t>& gpus, bool first) {
    if (o.format == Format::Json) {
        std::cout << statusJson(gpus).dump(o.loopMs > 0 ? -1 : 2) << "\n";
        return;
    }
    if (o.format == Format::Csv) {
        std::cout << (first ? csvHeader() + "\n" : "");
        for (std::uint32_t g : gpus) {
            std::cout << csvLine(watchSample(g)) << "\n";
        }
        return;
    }
    for (std::size_t i = 0; i < gpus.size(); ++i) {
        std::cout << (i > 0 || !first ? "\n" : "");
        printGpuText(gpuStatus(gpus[i]));
    }
}

// status and watch: the readings once, or every --loop milliseconds until
// --count times or an ending signal.
int cmdReadings(const Options& o, bool watch) {
    if (int rc = start()) {
        return rc;
    }
    std::vector<std::uint32_t> gpus;
    if (int rc = gpuIndices(o.ids, true, gpus)) {
        return rc;
    }
    const unsigned every = o.loopMs > 0 ? o.loopMs : 1000;
    const unsigned times = watch || o.loopMs > 0 ? o.count : 1;
    const sigset_t set = blockEndingSignals();
    for (unsigned n = 0; times == 0 || n < times; ++n) {
        if (n > 0 && !pause(set, every)) {
            break;
        }
        if (!watch) {
            printStatus(o, gpus, n == 0);
        }
        for (std::uint32_t g = 0; watch && g < gpus.size(); ++g) {
            const json sample = watchSample(gpus[g]);
            std::cout << (o.format == Format::Json  ? sample.dump()
                          : o.format == Format::Csv ? (n == 0 && g == 0 ? csvHeader() + "\n" : "") + csvLine(sample)
                                                    : watchLine(sample))
                      << "\n";
        }
        if (outputBroken()) {
            break;
        }
    }
    ZXDeInitLib();
    return kExitOk;
}

// The JSON of one set outcome.
json setJson(const SetRequest& q, const Outcome& r) {
    const Setting* s = findSetting(q.what);
    json j{{"gpu", q.gpu}, {"setting", q.what}};
    j["level"] = q.level ? json(*q.level) : json(nullptr);
    if (q.what == "fan") {
        j["fan"] = q.fan.value_or(0);
    }
    j["requested"] = q.fanAuto ? json("auto") : json(q.value);
    j["reported"] = r.reported ? json(*r.reported) : json(nullptr);
    j["unit"] = s != nullptr ? s->unit : "";
    j["exit"] = r.exit;
    j["message"] = r.message;
    return j;
}

// Checks the request on every GPU asked for before anything is sent, then
// sets each and reads it back.
int cmdSet(const Options& o, SetRequest request) {
    if (int rc = start()) {
        return rc;
    }
    std::vector<std::uint32_t> gpus;
    int rc = gpuIndices(o.ids, false, gpus);
    for (std::size_t i = 0; rc == kExitOk && i < gpus.size(); ++i) {
        request.gpu = gpus[i];
        if (auto bad = checkSet(request)) {
            rc = report(*bad);
        }
    }
    json results = json::array();
    for (std::size_t i = 0; rc == kExitOk && i < gpus.size(); ++i) {
        request.gpu = gpus[i];
        const Outcome r = performSet(request);
        results.push_back(setJson(request, r));
        rc = o.format == Format::Json && r.ok() ? kExitOk : report(r);
    }
    if (o.format == Format::Json && !results.empty()) {
        std::cout << json{{"schema", kJsonSchema}, {"results", results}}.dump(2) << "\n";
    }
    ZXDeInitLib();
    return rc;
}

int cmdReset(const Options& o, const std::string& what) {
    const auto steps = resetSteps(lower(what));
    if (steps.empty()) {
        std::string words;
        for (const std::string& w : resetWords()) {
            words += (words.empty() ? "" : ", ") + w;
        }
        return usageError("reset: unknown setting '" + what + "' (" + words + ")");
    }
    if (int rc = start()) {
        return rc;
    }
    std::vector<std::uint32_t> gpus;
    int rc = gpuIndices(o.ids, false, gpus);
    json results = json::array();
    for (std::size_t i = 0; rc == kExitOk && i < gpus.size(); ++i) {
        for (const ResetResult& r : applyReset(gpus[i], steps)) {
            results.push_back({{"gpu", gpus[i]}, {"step", r.step->group}, {"skipped", r.skipped},
                               {"exit", r.outcome.exit}, {"message", r.outcome.message}});
            if (o.format == Format::Json && r.outcome.ok()) {
                continue;
            }
            const int code = report(r.outcome);
            rc = code != kExitOk && rc == kExitOk ? code : rc;
        }
    }
    if (o.format == Format::Json && !results.empty()) {
        std::cout << json{{"schema", kJsonSchema}, {"results", results}}.dump(2) << "\n";
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
    if (o.format == Format::Json) {
        std::cout << json{{"schema", kJsonSchema}, {"lock", lockText(status)}}.dump() << "\n";
    } else {
        std::cout << "Card lock: " << lockText(status) << "\n";
    }
    return kExitOk;
}

int cmdLockHold(const Options& o) {
    if (int rc = start()) {
        return rc;
    }
    const sigset_t set = blockEndingSignals();
    if (const ZXStatus s = ZXSetLockLibStatus(1); s != ZX_STATUS_OK) {
        std::uint32_t status = 0;
        ZXGetLockLibStatus(&status);
        ZXDeInitLib();
        return status == ZX_LOCK_HELD_ELSEWHERE ? fail("lock hold", ZX_STATUS_LOCKED_BY_OTHER)
                                                : fail("lock hold", s);
    }
    const bool asJson = o.format == Format::Json;
    std::cout << (asJson ? json{{"schema", kJsonSchema}, {"lock", lockText(ZX_LOCK_HELD_HERE)}}.dump()
                         : "Holding the card lock; press Ctrl-C to give it back.")
              << std::endl;
    int sig = 0;
    sigwait(&set, &sig);
    ZXSetLockLibStatus(0);
    ZXDeInitLib();
    std::cout << (asJson ? json{{"schema", kJsonSchema}, {"lock", lockText(ZX_LOCK_UNLOCKED)}}.dump()
                         : "Card lock given back.")
              << std::endl;
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
    "Exit codes: 0 success; 1 the card or its driver failed, or the output could not be written; 2 usage\n"
    "error (nothing was sent to the card); 3 not offered by this card; 4 no usable card (the library did not\n"
    "start); 5 locked by another process; 6 adapters are not all the same card model; 7 the simulated\n"
    "machine could not be prepared, used or saved; 8 the card reports another value than the one set.\n"
    "Numbers are decimal digits only. Voltages are in millivolts.\n"
    "Colour is used only on a terminal and never when NO_COLOR is set. See docs/zxctl.md.";


// The command line: the words as given, and the commands that take them.
// Numbers are taken as words and read as decimal digits here, so that every
// bad word gets a message of our own.
struct CommandLine {
    CLI::App app{"zxctl - look at and tune the graphics cards that ZXDisplayLib supports", "zxctl"};
    std::string simulate;
    bool resetSimulation = false;
    bool json = false;
    std::string format;
    std::string ids;
    std::string loop;
    std::string interval;
    std::string count;
    std::vector<std::string> words;  // a setter's LEVEL and VALUE, or reset's WHAT
    std::string level;               // set voltage --level
    std::string fan;                 // set fan --fan
    std::string port;
    std::string profile;  // apply, daemon
    bool dryRun = false;
    std::string pollMs;
    ServeOptions serveOptions;
    CLI::App* info = nullptr;
    CLI::App* status = nullptr;
    CLI::App* watch = nullptr;
    CLI::App* set = nullptr;
    CLI::App* reset = nullptr;
    CLI::App* lock = nullptr;
    CLI::App* lockStatus = nullptr;
    CLI::App* lockHold = nullptr;
    CLI::App* serve = nullptr;
    CLI::App* apply = nullptr;
    CLI::App* daemon = nullptr;
    std::vector<std::pair<CLI::App*, const Setting*>> setters;

    void addOutput(CLI::App* c, bool csv) {
        c->add_flag("--json", json, "Print JSON (the same as --format json)");
        c->add_option("--format", format, csv ? "text, json or csv" : "text or json")->type_name("FORMAT");
    }
    void addIds(CLI::App* c, const char* help) {
        c->add_option("-i,--id,--gpu", ids, help)->type_name("ID");
    }
};

void addViewCommands(CommandLine& c) {
    c.info = c.app.add_subcommand("info", "Library version and file, adapters, backend, GPU count, control modes, "
                                          "card description");
    c.addOutput(c.info, false);
    c.status = c.app.add_subcommand("status", "Temperature, usage, performance level, clocks, voltages, "
                                              "regulator levels and fan of each GPU");
    c.addOutput(c.status, true);
    c.addIds(c.status, "GPU index (0-based), a list such as 0,1, or all (the default)");
    c.status->add_option("-l,--loop", c.loop, "Again every MS milliseconds until Ctrl-C or --count")
        ->type_name("MS");
    c.status->add_option("--count", c.count, "With --loop: stop after N times")->type_name("N");

    c.watch = c.app.add_subcommand("watch", "One line per GPU per sample until interrupted (Ctrl-C)");
    c.addOutput(c.watch, true);
    c.addIds(c.watch, "GPU index (0-based), a list such as 0,1, or all (the default)");
    c.watch->add_option("-l,--loop", c.loop, "Milliseconds between samples (default 1000)")->type_name("MS");
    c.watch->add_option("--interval", c.interval, "Seconds between samples (whole seconds)")->type_name("S");
    c.watch->add_option("--count", c.count, "Stop after N samples (default: until interrupted)")->type_name("N");
}

// One subcommand of set per setting of the command model.
void addSetCommands(CommandLine& c) {
    c.set = c.app.add_subcommand("set", "Change a clock, voltage, regulator level or the fan; the card is read "
                                        "back afterwards");
    for (const Setting& s : settings()) {
        const std::string name = s.name;
        CLI::App* sc = nullptr;
        if (s.needsLevel) {
            sc = c.set->add_subcommand(name, std::string("Set the ") + s.label + " of one performance level");
            sc->add_option("LEVEL MHZ", c.words, "Performance level (0-based) and clock in MHz")->expected(2)
                ->required();
        } else if (name == "voltage") {
            sc = c.set->add_subcommand(name, "Set the GPU voltage of every level, or of one with --level");
            sc->add_option("MV", c.words, "GPU voltage in millivolts")->expected(1)->required();
            sc->add_option("--level", c.level, "Only this performance level (cards with a voltage per level)")
                ->type_name("LEVEL");
        } else if (name == "fan") {
            sc = c.set->add_subcommand(name, "Set the fan speed in percent, or 'auto' to hand it back to the driver");
            sc->add_option("PERCENT", c.words, "Percent within the card's fan range, or auto")->expected(1)
                ->required();
            sc->add_option("--fan", c.fan, "Fan index (ATI cards; default 0)")->type_name("N");
        } else {
            sc = c.set->add_subcommand(name, std::string("Set the ") + s.label + " (within the card's range)");
            sc->add_option("LEVEL", c.words, "Level")->expected(1)->required();
        }
        c.addIds(sc, "GPU index (0-based), a list such as 0,1, or all (default 0)");
        c.addOutput(sc, false);
        c.setters.emplace_back(sc, &s);
    }
}

void addOtherCommands(CommandLine& c) {
    std::string words;
    for (const std::string& w : resetWords()) {
        words += (words.empty() ? "" : "|") + w;
    }
    c.reset = c.app.add_subcommand("reset", "Restore defaults: clocks (or one clock), voltage, memory-voltage, "
                                            "pwm, fan or all");
    c.reset->add_option("WHAT", c.words, words)->expected(1)->required();
    c.addIds(c.reset, "GPU index (0-based), a list such as 0,1, or all (default 0)");
    c.addOutput(c.reset, false);

    c.lock = c.app.add_subcommand("lock", "Show or hold the card lock");
    c.lockStatus = c.lock->add_subcommand("status", "Whether the card lock is free or held, and by whom");
    c.addOutput(c.lockStatus, false);
    c.lockHold = c.lock->add_subcommand("hold", "Hold the card lock until interrupted (Ctrl-C), so that no other "
                                                "process can change the card meanwhile");
    c.addOutput(c.lockHold, false);

    c.serve = c.app.add_subcommand("serve", "A live dashboard in the browser on this machine's address "
                                            "127.0.0.1 (see docs/dashboard.md); runs until Ctrl-C");
    c.serve->add_option("--port", c.port, "TCP port (default: any free port)")->type_name("N");
    c.serve->add_option("--bind", c.serveOptions.bind, "Address to listen on (default 127.0.0.1; any other "
                                                       "lets other machines reach the dashboard)")
        ->type_name("ADDRESS");
    // Prometheus metrics (docs/metrics.md).
    c.serve->add_flag("--metrics-only", c.serveOptions.metricsOnly,
                      "Serve only the Prometheus metrics at /metrics: no dashboard, no changes");
    c.serve->add_option("--metrics-token-file", c.serveOptions.metricsTokenFile,
                        "/metrics needs this file's token as 'Authorization: Bearer TOKEN'")
        ->type_name("FILE");
    c.serve->add_option("--metrics-allow-file", c.serveOptions.metricsAllowFile,
                        "/metrics answers only the client addresses listed in this file, one a line")
        ->type_name("FILE");

    c.apply = c.app.add_subcommand("apply", "Apply a tuning profile (docs/profiles.md): checked whole against the "
                                            "cards first, changed in a safe order, read back, undone on a failure");
    c.apply->add_option("FILE", c.profile, "Profile (TOML)")->required();
    c.apply->add_flag("--dry-run", c.dryRun, "Print what would be changed; change nothing");
    c.addOutput(c.apply, false);
    c.daemon = c.app.add_subcommand("daemon", "Hold the card lock, apply a profile, run its fan curves; SIGHUP "
                                              "reloads it, SIGTERM or Ctrl-C restores the defaults");
    c.daemon->add_option("FILE", c.profile, "Profile (TOML)")->required();
    c.daemon->add_option("--poll-ms", c.pollMs, "Milliseconds between temperature readings (default: the "
                                                "profile's [daemon] poll_ms, else 1000)")
        ->type_name("MS");
}

// The options common to the commands, read from their words.
int readOptions(const CommandLine& c, Options& o) {
    const std::string format = lower(c.format);
    if (!format.empty() && format != "text" && format != "json" && format != "csv") {
        return usageError("--format: '" + c.format + "' is not a format (text, json or csv)");
    }
    o.format = c.json || format == "json" ? Format::Json : format == "csv" ? Format::Csv : Format::Text;
    o.ids = c.ids;
    int rc = kExitOk;
    if (!c.loop.empty()) {
        const auto ms = decimalWord("--loop", c.loop, rc);
        if (ms && (*ms < 100 || *ms > 3600000)) {
            return usageError("--loop: " + c.loop + " ms is outside 100-3600000");
        }
        o.loopMs = ms.value_or(0);
    }
    if (rc == kExitOk && !c.interval.empty()) {
        const auto seconds = decimalWord("--interval", c.interval, rc);
        if (seconds && (*seconds < 1 || *seconds > 3600)) {
            return usageError("--interval: " + c.interval + " s is outside 1-3600");
        }
        o.loopMs = seconds.value_or(1) * 1000;
    }
    if (rc == kExitOk && !c.count.empty()) {
        const auto n = decimalWord("--count", c.count, rc);
        if (n && *n == 0) {
            return usageError("--count: 0 is not a count (1 or more)");
        }
        o.count = n.value_or(0);
    }
    return rc;
}

// A setter's words as a request; a non-zero result is the exit code.
int readSetRequest(const CommandLine& c, const Setting& s, SetRequest& q) {
    q.what = s.name;
    const std::string context = std::string("set ") + s.name;
    int rc = kExitOk;
    std::size_t next = 0;
    if (s.needsLevel) {
        q.level = decimalWord(context + " LEVEL", c.words.at(next++), rc);
    }
    if (q.what == "voltage" && !c.level.empty() && rc == kExitOk) {
        q.level = decimalWord(context + " --level", c.level, rc);
    }
    if (q.what == "fan" && !c.fan.empty() && rc == kExitOk) {
        q.fan = decimalWord(context + " --fan", c.fan, rc);
    }
    if (rc != kExitOk) {
        return rc;
    }
    const std::string& word = c.words.at(next);
    q.fanAuto = q.what == "fan" && lower(word) == "auto";
    if (!q.fanAuto) {
        q.value = decimalWord(context, word, rc).value_or(0);
    }
    return rc;
}

int dispatch(CommandLine& c) {
    Options o;
    if (int rc = readOptions(c, o)) {
        return rc;
    }
    if (c.serve->parsed()) {
        int rc = kExitOk;
        c.serveOptions.port = c.port.empty() ? 0 : static_cast<int>(decimalWord("serve --port", c.port, rc).value_or(0));
        if (rc == kExitOk && c.serveOptions.port > 65535) {
            return usageError("serve --port: " + c.port + " is not a TCP port (0-65535)");
        }
        return rc != kExitOk ? rc : serve(c.serveOptions);
    }
    if (c.apply->parsed()) {
        return o.format == Format::Csv ? usageError("apply: --format csv is not offered (text or json)")
                                       : cmdApply(c.profile, c.dryRun, o.format == Format::Json);
    }
    if (c.daemon->parsed()) {
        int rc = kExitOk;
        const auto ms = c.pollMs.empty() ? std::optional<std::uint32_t>(0) : decimalWord("daemon --poll-ms", c.pollMs, rc);
        if (ms && *ms != 0 && (*ms < 10 || *ms > 3600000)) {
            return usageError("daemon --poll-ms: " + c.pollMs + " ms is outside 10-3600000");
        }
        return rc != kExitOk ? rc : cmdDaemon(c.profile, ms.value_or(0));
    }
    if (c.info->parsed()) {
        return cmdInfo(o);
    }
    if (c.status->parsed() || c.watch->parsed()) {
        return cmdReadings(o, c.watch->parsed());
    }
    if (c.reset->parsed()) {
        return cmdReset(o, c.words.at(0));
    }
    if (c.lock->parsed()) {
        return c.lockStatus->parsed() ? cmdLockStatus(o) : cmdLockHold(o);
    }
    for (const auto& [sc, s] : c.setters) {
        if (sc->parsed()) {
            SetRequest q;
            if (int rc = readSetRequest(c, *s, q)) {
                return rc;
            }
            return cmdSet(o, q);
        }
    }
    return usageError("no command");
}

// ---- Parse errors in our own words -------------------------------------------

std::string namesOf(const CLI::App* app) {
    std::string names;
    for (const CLI::App* sub : app->get_subcommands([](const CLI::App*) { return true; })) {
        names += (names.empty() ? "" : ", ") + sub->get_name();
    }
    return names;
}

// The word after WORD in argv at or after index from, or "".
std::string wordAfter(int argc, char** argv, const std::string& word) {
    bool seen = word.empty();
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--simulate") {
            ++i;
        } else if (!a.empty() && a[0] == '-') {
            continue;
        } else if (seen) {
            return a;
        } else if (lower(a) == word) {
            seen = true;
        }
    }
    return {};
}

int parseProblem(CommandLine& c, const CLI::ParseError& e, int argc, char** argv) {
    const std::string what = e.what();
    if (what.find("subcommand") != std::string::npos) {
        CLI::App* parent = c.set->parsed() ? c.set : c.lock->parsed() ? c.lock : &c.app;
        const std::string kind = parent == c.set ? "setting" : "command";
        const std::string word = wordAfter(argc, argv, parent == &c.app ? "" : parent->get_name());
        const std::string where = parent == &c.app ? "" : parent->get_name() + ": ";
        return usageError(word.empty() ? where + "a " + kind + " is needed (" + namesOf(parent) + ")"
                                       : where + "unknown " + kind + " '" + word + "' (" + namesOf(parent) + ")");
    }
    if (const auto colon = what.find("not expected: "); colon != std::string::npos) {
        const std::string word = what.substr(colon + 14);
        return usageError(word[0] == '-' && !parseDecimal(word.substr(1)) ? "unknown option '" + word + "'"
                                                                          : "unexpected word '" + word + "'");
    }
    if (const auto at = what.find(" is required"); at != std::string::npos) {
        return usageError(what.substr(0, at) + " is missing");
    }
    if (what.find("requires") != std::string::npos && what.find("--reset-simulation") != std::string::npos) {
        return usageError("--reset-simulation needs --simulate NAME");
    }
    return usageError(what);
}

}  // namespace

int run(int argc, char** argv) {
    CommandLine c;
    c.app.set_help_all_flag("--help-all", "Print the help of every command");
    c.app.set_version_flag("--version", std::string("zxctl ") + ZXDISPLAY_VERSION_STRING);
    c.app.footer(kFooter);
    c.app.require_subcommand(1, 1);
    c.app.ignore_case();
    auto* simOpt = c.app.add_option("--simulate", c.simulate, simulateHelp())->type_name("NAME");
    c.app.add_flag("--reset-simulation", c.resetSimulation, "With --simulate: start the simulated machine afresh")
        ->needs(simOpt);
    addViewCommands(c);
    addSetCommands(c);
    addOtherCommands(c);
    c.set->require_subcommand(1, 1);
    c.lock->require_subcommand(1, 1);

    try {
        c.app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return c.app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return c.app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return c.app.exit(e);
    } catch (const CLI::ParseError& e) {
        return parseProblem(c, e, argc, argv);
    }

    if (!c.simulate.empty()) {
        const char* inside = std::getenv(kSimulatedEnv);
        if (inside == nullptr || c.simulate != inside) {
            return enterSimulation(c.simulate, c.resetSimulation, argv);
        }
    }
    const int rc = dispatch(c);
    if (outputBroken()) {
        std::fprintf(stderr, "zxctl: cannot write the output: %s\n", std::strerror(errno != 0 ? errno : EIO));
        return rc != kExitOk ? rc : kExitFailed;
    }
    return rc;
}

}  // namespace zxctl

int main(int argc, char** argv) { return zxctl::run(argc, argv); }
