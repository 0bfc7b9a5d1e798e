#include "support/host.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <stdexcept>

#include "support/card_data.h"
#include "support/test_env.h"

extern char** environ;

namespace zxtest {

std::string HostResult::of(const std::string& name) const {
    const Lines all = allOf(name);
    return all.empty() ? "<no " + name + " line>" : all[0];
}

Lines HostResult::allOf(const std::string& name) const {
    Lines out;
    for (const auto& l : lines) {
        if (l.rfind(name + " ", 0) == 0) out.push_back(l.substr(name.size() + 1));
    }
    return out;
}

std::string HostResult::joined() const {
    std::string out;
    for (const auto& l : lines) out += (out.empty() ? "" : ", ") + l;
    return out;
}

HostDeployment::HostDeployment(const std::string& folderName) : folder_(testRoot() + "/" + folderName) {
    makeDirs(folder_);
    std::filesystem::copy_file(ZX_TEST_HOST_PROGRAM, folder_ + "/zxhost",
                               std::filesystem::copy_options::overwrite_existing);
}

void HostDeployment::addCardData(const std::string& fileName, const std::string& plain) const {
    writeFile(folder_ + "/" + fileName, encodeCardData(plain));
}

pid_t HostDeployment::start(const Lines& commands, const EnvVars& env) const {
    static int serial = 0;
    const std::string outPath = folder_ + "/.out-" + std::to_string(::getpid()) + "-" + std::to_string(serial++);

    // Later variables replace earlier ones of the same name.
    std::map<std::string, std::string> vars;
    for (char** e = environ; *e != nullptr; ++e) vars[std::string(*e).substr(0, std::strcspn(*e, "="))] = *e;
    vars["LD_LIBRARY_PATH"] = std::string("LD_LIBRARY_PATH=") + ZX_TEST_SIMLIB_DIR;
    for (const auto& [k, v] : env) vars[k] = k + "=" + v;

    Lines args{folder_ + "/zxhost"};
    for (const std::string& c : commands) {
        std::istringstream words(c);
        for (std::string w; words >> w;) args.push_back(w);
    }
    std::vector<char*> argv, envp;
    for (auto& s : args) argv.push_back(s.data());
    for (auto& [k, v] : vars) envp.push_back(v.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        const int fd = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd >= 0) {
            ::dup2(fd, STDOUT_FILENO);
            ::close(fd);
        }
        if (userId != -1 && (::setgroups(0, nullptr) != 0 || ::setgid(static_cast<gid_t>(userId)) != 0 ||
                             ::setuid(static_cast<uid_t>(userId)) != 0)) {
            ::_exit(126);
        }
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    outputs_[pid] = outPath;
    return pid;
}

HostResult HostDeployment::wait(pid_t pid) const {
    HostResult r;
    int status = 0;
    ::waitpid(pid, &status, 0);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    r.lines = readLines(outputs_[pid]);
    outputs_.erase(pid);
    return r;
}

EnvVars SimDriver::env(const std::string& scenario) const {
    const std::string path = testRoot() + "/" + name_ + ".scenario";
    writeFile(path, scenario);
    return {{"ZXSIM_" + name_ + "_SCENARIO", path}, {"ZXSIM_" + name_ + "_LOG", logPath()}};
}

std::string SimDriver::logPath() const { return testRoot() + "/" + name_ + ".log"; }

Lines SimDriver::log() const { return readLines(logPath()); }

Lines SimDriver::logOf(const std::string& op) const {
    Lines out = log();
    std::erase_if(out, [&](const std::string& l) { return l.rfind(op + " ", 0) != 0; });
    return out;
}

Lines SimDriver::logAfter(const std::string& prefix) const {
    Lines lines = log();
    const auto it =
        std::find_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
    return it == lines.end() ? lines : Lines(it + 1, lines.end());
}

void SimDriver::clearLog() const { removeTree(logPath()); }

std::string marker(const std::string& name) { return testRoot() + "/" + name; }

}  // namespace zxtest
