// Runs the test host application (tests/host/zxhost.c) as a real deployment:
// copied into a folder of its own with card data files beside it, started as
// a separate process with the simulated vendor libraries first on the library
// search path and the current test's temporary user folders.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace zxtest {

using EnvVars = std::vector<std::pair<std::string, std::string>>;

struct HostResult {
    int exitCode = -1;   // -signal when killed
    std::vector<std::string> lines;

    // The first line that starts with "<name> ", without the name.
    std::string of(const std::string& name) const;
    // All lines that start with "<name> ".
    std::vector<std::string> allOf(const std::string& name) const;
};

class HostDeployment {
public:
    // Deploys into <test root>/<folderName>/.
    explicit HostDeployment(const std::string& folderName = "app");

    const std::string& folder() const { return folder_; }
    // When not -1, the host runs as this user and group (the tests must run
    // as root to change users).
    int userId = -1;
    void addFile(const std::string& name, const std::string& content) const;
    // Writes an enciphered card data file (e.g. "NVVGA.DAT") holding plain.
    void addCardData(const std::string& fileName, const std::string& plain) const;

    // Runs the commands to completion.
    HostResult run(const std::vector<std::string>& commands, const EnvVars& env = {}) const;

    // Starts the commands without waiting; finish with wait().
    pid_t start(const std::vector<std::string>& commands, const EnvVars& env = {}) const;
    HostResult wait(pid_t pid) const;

private:
    std::string folder_;
    std::string program_;
    mutable std::map<pid_t, std::string> outputs_;
};

}  // namespace zxtest
