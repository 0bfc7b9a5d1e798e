#include "support/host.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <stdexcept>

#include "support/card_data.h"
#include "support/test_env.h"

extern char** environ;

namespace zxtest {

std::string HostResult::of(const std::string& name) const {
    const std::string prefix = name + " ";
    for (const auto& l : lines) {
        if (l.rfind(prefix, 0) == 0) {
            return l.substr(prefix.size());
        }
    }
    return "<no " + name + " line>";
}

std::vector<std::string> HostResult::allOf(const std::string& name) const {
    std::vector<std::string> out;
    const std::string prefix = name + " ";
    for (const auto& l : lines) {
        if (l.rfind(prefix, 0) == 0) {
            out.push_back(l.substr(prefix.size()));
        }
    }
    return out;
}

HostDeployment::HostDeployment(const std::string& folderName) {
    folder_ = testRoot() + "/" + folderName;
    makeDirs(folder_);
    program_ = folder_ + "/zxhost";
    std::filesystem::copy_file(ZX_TEST_HOST_PROGRAM, program_,
                               std::filesystem::copy_options::overwrite_existing);
}

void HostDeployment::addFile(const std::string& name, const std::string& content) const {
    writeFile(folder_ + "/" + name, content);
}

void HostDeployment::addCardData(const std::string& fileName, const std::string& plain) const {
    addFile(fileName, encodeCardData(plain));
}

pid_t HostDeployment::start(const std::vector<std::string>& commands, const EnvVars& env) const {
    static int serial = 0;
    const std::string outPath = folder_ + "/.out-" + std::to_string(::getpid()) + "-" + std::to_string(serial++);

    std::vector<std::string> envStrings;
    for (char** e = environ; *e != nullptr; ++e) {
        envStrings.emplace_back(*e);
    }
    auto setVar = [&](const std::string& key, const std::string& value) {
        for (auto& s : envStrings) {
            if (s.rfind(key + "=", 0) == 0) {
                s = key + "=" + value;
                return;
            }
        }
        envStrings.push_back(key + "=" + value);
    };
    setVar("LD_LIBRARY_PATH", ZX_TEST_SIMLIB_DIR);
    for (const auto& [k, v] : env) {
        setVar(k, v);
    }
    std::vector<char*> envp;
    for (auto& s : envStrings) envp.push_back(s.data());
    envp.push_back(nullptr);

    std::vector<std::string> args{program_};
    args.insert(args.end(), commands.begin(), commands.end());
    std::vector<char*> argv;
    for (auto& s : args) argv.push_back(s.data());
    argv.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
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
        ::execve(program_.c_str(), argv.data(), envp.data());
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
    std::istringstream in(readFile(outputs_[pid]));
    for (std::string line; std::getline(in, line);) {
        r.lines.push_back(line);
    }
    outputs_.erase(pid);
    return r;
}

HostResult HostDeployment::run(const std::vector<std::string>& commands, const EnvVars& env) const {
    return wait(start(commands, env));
}

}  // namespace zxtest
