// The control surface every simulated driver shares: the scenario as loaded
// and as running, the lock, the start from the environment (state file, else
// scenario file), the call log, the last error and the state file written
// after a change and read again when another process replaced it. A driver
// derives from it and adds its own entry points and model; its namespace
// provides parseScenario(text, Scenario&), parseAdditions(text, Scenario&)
// and stateText(const Scenario&).
#pragma once

#include <cstdio>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>

#include "driver_support.h"
#include "scenario_text.h"

namespace zxsim {

template <class Scenario>
class DriverCore {
public:
    // Where a driver reads its set-up and how it signs its complaints.
    struct Names {
        const char* who;              // "zxsim_nvapi"
        const char* scenarioVariable;  // scenario file
        const char* logVariable;       // log file
        const char* stateVariable;     // state file between processes
        const char* additionsVariable;  // additions (faults) applied on start
    };

    int loadScenario(const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex_);
        startLocked();
        return loadLocked(text, "scenario");
    }
    int apply(const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex_);
        startLocked();
        const ParseError error = parseAdditions(text, state_);
        if (error.line != 0) {
            error_ = "additions line " + std::to_string(error.line) + ": " + error.message;
            std::fprintf(stderr, "%s: %s\n", names_.who, error_.c_str());
            return static_cast<int>(error.line);
        }
        return 0;
    }
    void reset() {
        std::lock_guard<std::mutex> lock(mutex_);
        startLocked();
        state_ = initial_;
        forgetInitialisation();
        log_.clear();
    }
    std::string lastError() {
        std::lock_guard<std::mutex> lock(mutex_);
        startLocked();
        return error_;
    }
    std::size_t logCount() {
        std::lock_guard<std::mutex> lock(mutex_);
        startLocked();
        return log_.count();
    }
    std::optional<std::string> logLine(std::size_t i) {
        std::lock_guard<std::mutex> lock(mutex_);
        startLocked();
        return log_.line(i);
    }
    void clearLog() {
        std::lock_guard<std::mutex> lock(mutex_);
        startLocked();
        log_.clear();
    }
    // Off: calls are no longer logged (benchmarks); on by default.
    void setLogging(bool on) {
        std::lock_guard<std::mutex> lock(mutex_);
        startLocked();
        log_.setLogging(on);
    }

    static constexpr std::size_t kMaxLogLines = CallLog::kMaxLines;

protected:
    explicit DriverCore(Names names) : names_(names) {}
    virtual ~DriverCore() = default;

    // A driver that keeps more than the scenario (an initialisation) drops it
    // here: on reset and when a scenario does not load.
    virtual void forgetInitialisation() {}

    // Reads the environment once, on first use. A state file left by an
    // earlier process stands for the scenario.
    // Every call after that takes up a state file another process replaced
    // since: processes of one simulated machine share its cards, as processes
    // share a real card.
    void startLocked() {
        if (started_) {
            refreshLocked();
            return;
        }
        started_ = true;
        log_.openFileFrom(names_.logVariable, names_.who);
        statePath_ = environmentPath(names_.stateVariable);
        stateStamp_ = statePath_.empty() ? std::string() : fileStamp(statePath_);
        if (const std::optional<std::string> saved = readTextFile(statePath_)) {
            loadLocked(*saved, statePath_);
        } else if (const std::string path = environmentPath(names_.scenarioVariable); !path.empty()) {
            std::ifstream in(path, std::ios::binary);
            std::ostringstream text;
            text << in.rdbuf();
            if (!in) {
                breakLocked("cannot read scenario file " + path);
            } else {
                loadLocked(text.str(), path);
            }
        }
        addAdditionsLocked();
    }

    // Faults are not state: a file of additions injects them into every
    // process of a simulated machine, after its state was loaded.
    void addAdditionsLocked() {
        if (const std::optional<std::string> more = readTextFile(environmentPath(names_.additionsVariable));
            more && !broken_) {
            if (const ParseError error = parseAdditions(*more, state_); error.line != 0) {
                breakLocked(environmentPath(names_.additionsVariable) + " line " + std::to_string(error.line) +
                            ": " + error.message);
            }
        }
    }

    // The cards as the state file holds them now, when another process
    // replaced it (a daemon setting the fan while this one watches); the
    // scenario as loaded stays what a reset returns to. The file of
    // additions is applied again, with fresh counts.
    void refreshLocked() {
        if (statePath_.empty() || broken_ || fileStamp(statePath_) == stateStamp_) {
            return;
        }
        stateStamp_ = fileStamp(statePath_);
        Scenario scenario;
        if (const std::optional<std::string> saved = readTextFile(statePath_);
            saved && parseScenario(*saved, scenario).line == 0) {
            state_ = std::move(scenario);
            addAdditionsLocked();
        }
    }

    int loadLocked(const std::string& text, const std::string& origin) {
        Scenario scenario;
        const ParseError error = parseScenario(text, scenario);
        if (error.line != 0) {
            breakLocked(origin + " line " + std::to_string(error.line) + ": " + error.message);
            return static_cast<int>(error.line);
        }
        broken_ = false;
        error_.clear();
        initial_ = std::move(scenario);
        state_ = initial_;
        log_.clear();
        return 0;
    }

    // A scenario that does not load leaves a broken driver with nothing in it.
    void breakLocked(const std::string& message) {
        broken_ = true;
        forgetInitialisation();
        error_ = message;
        initial_ = Scenario{};
        state_ = Scenario{};
        log_.clear();
        std::fprintf(stderr, "%s: %s\n", names_.who, message.c_str());
    }

    void appendLog(const std::string& line) { log_.append(line); }

    // Rewrites the state file (when one is named) after a call changed state.
    void saveLocked() {
        if (!statePath_.empty()) {
            replaceFile(statePath_, stateText(state_), names_.who);
            stateStamp_ = fileStamp(statePath_);
        }
    }

    std::mutex mutex_;
    bool started_ = false;
    bool broken_ = false;   // the scenario did not load
    Scenario initial_;      // as loaded
    Scenario state_;        // running
    std::string error_;

private:
    Names names_;
    std::string statePath_;
    std::string stateStamp_;  // of the state file as this process last read or wrote it
    CallLog log_;
};

}  // namespace zxsim
