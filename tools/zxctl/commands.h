// The command model shared by zxctl's commands and zxctl serve's API: the
// settings and their checks, the reset steps, the messages and the exit codes.
// The front ends only parse their input into these requests and present the
// outcomes. The library must be started (ZXInitLib) for every call below
// except exitCodeFor, parseDecimal and the tables.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <zxdisplay.h>

namespace zxctl {

// Exit codes (docs/zxctl.md).
enum Exit : int {
    kExitOk = 0,
    kExitFailed = 1,
    kExitUsage = 2,
    kExitNotSupported = 3,
    kExitNoCard = 4,
    kExitLocked = 5,
    kExitMismatch = 6,
    kExitSimulation = 7,
    kExitReadBack = 8,
};

int exitCodeFor(ZXStatus status);

// A whole number written in decimal digits only ("0700" is 700); nothing for
// anything else: a sign, a point, an exponent, "0x", spaces, the empty word,
// or a value beyond 32 bits.
std::optional<std::uint32_t> parseDecimal(const std::string& word);

// Starts the library. On failure, the message to show (what was found and
// why it could not be used) and the exit code.
struct StartFailure {
    int exit;
    std::string message;
};
std::optional<StartFailure> startLibrary();

// What a setter or a reset came to: the exit code and the message ("GPU 0:
// GPU clock of level 1 set to 420 MHz" when done, the problem when not).
// When the card refused, status is its answer and subject names the call
// ("set gpu-clock (GPU 0)"); the message is then "<subject>: <status name>".
struct Outcome {
    int exit = kExitOk;
    ZXStatus status = ZX_STATUS_OK;
    std::string message;
    std::string subject;
    std::optional<std::uint32_t> reported;  // what the card reports after a set
    bool ok() const { return exit == kExitOk; }
};
Outcome usageOutcome(const std::string& message);
Outcome refusedOutcome(const std::string& subject, ZXStatus status);

// A usage outcome when the machine has no such GPU.
std::optional<Outcome> checkGpu(std::uint32_t gpu);
std::uint32_t gpuCount();

// One setter request. level: a performance level (clocks: required; voltage:
// optional, every level when absent). fan: the fan index (default 0).
// value: MHz, mV, percent or a regulator level, as the setting says.
struct SetRequest {
    std::string what;
    std::uint32_t gpu = 0;
    std::optional<std::uint32_t> level;
    std::optional<std::uint32_t> fan;
    bool fanAuto = false;
    std::uint32_t value = 0;
};

// The settings, by name, in the order they are listed.
struct Setting {
    const char* name;
    const char* label;
    bool needsLevel;  // a performance level (clocks)
    const char* unit;  // "MHz", "mV", "%" or "" (a level)
};
const std::vector<Setting>& settings();
const Setting* findSetting(const std::string& name);
// "gpu-clock, memory-clock, ..." for messages.
std::string settingNames();

// Checks the request against the card without changing anything: a usage
// outcome for a value the card does not take (outside its range, off its
// step, a level or fan it lacks), not supported for a setting it lacks.
std::optional<Outcome> checkSet(const SetRequest& request);
// Sets a checked request, then reads the value back: done with the value
// the card reports, or kExitReadBack when it reports another.
Outcome performSet(const SetRequest& request);
// checkSet, then performSet.
Outcome applySet(const SetRequest& request);
// The value the card reports now for the request's setting and level;
// nothing when it reports none (a kind-2 voltage before its first set) or,
// for the voltage of every level, when the levels differ.
std::optional<std::uint32_t> readSetting(const SetRequest& request);

// The reset steps that WHAT selects ("all", "clocks", or one setting's name);
// empty when WHAT names none.
struct ResetStep {
    const char* group;
    const char* label;
    std::function<ZXStatus(std::uint32_t)> run;
};
std::vector<const ResetStep*> resetSteps(const std::string& what);
// The words reset accepts, for help and messages.
std::vector<std::string> resetWords();

// One reset step's outcome; with several steps, what the card lacks is
// skipped (ok, and skipped set), asked for alone it is an error.
struct ResetResult {
    const ResetStep* step;
    Outcome outcome;
    bool skipped = false;
};
// Runs the steps on one GPU, stopping after a refusal for the lock.
std::vector<ResetResult> applyReset(std::uint32_t gpu, const std::vector<const ResetStep*>& steps);

}  // namespace zxctl
