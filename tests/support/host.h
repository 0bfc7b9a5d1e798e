// Runs the test host application (tests/host/zxhost.c) as a real deployment: copied into a folder of its own with card
// data files beside it, started as a separate process with the simulated vendor libraries first on the library search
// path and the current test's temporary user folders.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace zxtest {

using EnvVars = std::vector<std::pair<std::string, std::string>>;
using Lines = std::vector<std::string>;

struct HostResult {
    int exitCode = -1;  // -signal when killed
    Lines lines;

    // The first line that starts with "<name> ", without the name.
    std::string of(const std::string& name) const;
    // All lines that start with "<name> ", without the name.
    Lines allOf(const std::string& name) const;
    // All lines, joined by ", ".
    std::string joined() const;
};

class HostDeployment {
public:
    // Deploys into <test root>/<folderName>/.
    explicit HostDeployment(const std::string& folderName = "app");

    // When not -1, the host runs as this user and group (the tests must run as root to change users).
    int userId = -1;
    // Writes an enciphered card data file (e.g. "NVVGA.DAT") holding plain.
    void addCardData(const std::string& fileName, const std::string& plain) const;

    // Runs the commands to completion; a command of several words ("ZXSetDACLevel 0 1") is split at blanks.
    HostResult run(const Lines& commands, const EnvVars& env = {}) const { return wait(start(commands, env)); }
    // Starts the commands without waiting; finish with wait().
    pid_t start(const Lines& commands, const EnvVars& env = {}) const;
    HostResult wait(pid_t pid) const;

private:
    std::string folder_;
    mutable std::map<pid_t, std::string> outputs_;
};

// A simulated vendor library as a host process sees it: the scenario file it loads and the call log it appends to
// (ZXSIM_<name>_SCENARIO, ZXSIM_<name>_LOG).
class SimDriver {
public:
    explicit SimDriver(std::string name = "NVAPI") : name_(std::move(name)) {}
    // Writes the scenario; the variables a host run needs.
    EnvVars env(const std::string& scenario) const;
    Lines log() const;
    // Lines of one operation ("SetPerfClocks", ...), in order.
    Lines logOf(const std::string& op) const;
    // Lines after the first that starts with prefix (all without one).
    Lines logAfter(const std::string& prefix) const;
    void clearLog() const;

private:
    std::string logPath() const;
    std::string name_;
};

// Marker files that coordinate processes ("touch:" and "wait:" commands).
std::string marker(const std::string& name);

}  // namespace zxtest
