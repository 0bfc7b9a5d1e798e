// A simulated machine is a folder of data files (see docs/zxctl.md):
//   machine.conf  description and the simulators' environment variables
//   sysfs         one line per PCI function of the fake sysfs tree
//   *.scn         simulator scenarios
//   *.DAT         card data files, encoded from the *.ini profiles at build
// zxctl copies it into a per-user state folder, builds the fake sysfs tree and
// throw-away user folders there, and re-executes itself from the state
// folder: the library reads the card data file beside the running executable
// (/proc/self/exe), and the dynamic loader reads LD_LIBRARY_PATH only when a
// process starts, so a new process is the clean way to give the library the
// simulated driver, the machine's data file and private folders.
#include "simulate.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include <zxdisplay.h>

#include "commands.h"

namespace fs = std::filesystem;

namespace zxctl {

namespace {


std::string selfExe() {
    std::error_code ec;
    fs::path p = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : p.string();
}

// A folder of the installed layout, relative to the executable ("" when it is
// not there). The build tree has the same layout; there is no other place.
std::string findDir(const char* relativeToBin) {
    std::error_code ec;
    const fs::path dir = (fs::path(selfExe()).parent_path() / relativeToBin).lexically_normal();
    return fs::is_directory(dir, ec) ? dir.string() : std::string();
}

std::string machinesDir() { return findDir(ZXCTL_REL_MACHINES_DIR); }
std::string simlibDir() { return findDir(ZXCTL_REL_SIMLIB_DIR); }

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void writeText(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush()) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

std::string trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t\r");
    const auto e = s.find_last_not_of(" \t\r");
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

// machine.conf: "key = value" lines; "description" describes the machine,
// every other key is an environment variable of the simulated process, with
// {machine} and {state} replaced by the folders of the machine's copy and of
// its state.
std::vector<std::pair<std::string, std::string>> readConf(const fs::path& path) {
    std::vector<std::pair<std::string, std::string>> out;
    std::istringstream in(readText(path));
    std::string line;
    while (std::getline(in, line)) {
        line = trim(line);
        const auto eq = line.find('=');
        if (line.empty() || line[0] == '#' || eq == std::string::npos) {
            continue;
        }
        out.emplace_back(trim(line.substr(0, eq)), trim(line.substr(eq + 1)));
    }
    return out;
}

std::string expand(std::string value, const std::map<std::string, std::string>& vars) {
    for (const auto& [name, replacement] : vars) {
        for (auto pos = value.find(name); pos != std::string::npos; pos = value.find(name, pos + replacement.size())) {
            value.replace(pos, name.size(), replacement);
        }
    }
    return value;
}

// sysfs: "ADDRESS attr=value ..." per PCI function, e.g.
// "0000:01:00.0 vendor=0x10de device=0x0611 class=0x030000", and
// "drm NAME attr=value ..." per DRM entry (a card "card0", a connector
// "card0-DP-1 status=connected"), which the ATI display walk reads.
void buildSysfs(const fs::path& description, const fs::path& root) {
    std::istringstream in(readText(description));
    std::string line;
    fs::create_directories(root / "bus/pci/devices");
    while (std::getline(in, line)) {
        std::istringstream words(trim(line));
        std::string address;
        if (!(words >> address) || address[0] == '#') {
            continue;
        }
        const bool drm = address == "drm";
        if (drm && !(words >> address)) {
            throw std::runtime_error("drm line without a name in " + description.string());
        }
        if (address.find('/') != std::string::npos || address[0] == '.') {
            throw std::runtime_error("bad sysfs entry '" + address + "' in " + description.string());
        }
        const fs::path dev = drm ? root / "class/drm" / address : root / "devices/pci0000:00" / address;
        fs::create_directories(dev);
        std::string attr;
        while (words >> attr) {
            const auto eq = attr.find('=');
            if (eq == std::string::npos || eq == 0 || attr.find('/') != std::string::npos) {
                throw std::runtime_error("bad sysfs attribute '" + attr + "' in " + description.string());
            }
            writeText(dev / attr.substr(0, eq), attr.substr(eq + 1) + "\n");
        }
        if (!drm) {
            // Relative, like the kernel's, so the tree can be moved into place.
            fs::create_symlink(fs::path("../../../devices/pci0000:00") / address,
                               root / "bus/pci/devices" / address);
        }
    }
}

// True when the state was made from the machine as it is now bundled.
bool sameMachine(const fs::path& machine, const fs::path& copy) {
    std::error_code ec;
    if (!fs::is_directory(copy, ec)) {
        return false;
    }
    std::size_t count = 0;
    for (const auto& entry : fs::directory_iterator(machine)) {
        ++count;
        const fs::path other = copy / entry.path().filename();
        if (!fs::is_regular_file(other, ec) || readText(entry.path()) != readText(other)) {
            return false;
        }
    }
    return count == static_cast<std::size_t>(std::distance(fs::directory_iterator(copy), fs::directory_iterator()));
}

void removeAside(const fs::path& dir) {
    std::error_code ec;
    if (!fs::exists(dir, ec)) {
        return;
    }
    const fs::path aside = dir.string() + ".old." + std::to_string(::getpid());
    fs::rename(dir, aside);
    fs::remove_all(aside);
}

// Builds the state in a new folder and moves it into place, so that runs
// started together see either no state or a complete one.
void createState(const fs::path& machine, const fs::path& state) {
    const fs::path tmp = state.string() + ".new." + std::to_string(::getpid());
    fs::remove_all(tmp);
    fs::create_directories(tmp / "machine");
    for (const auto& entry : fs::directory_iterator(machine)) {
        fs::copy_file(entry.path(), tmp / "machine" / entry.path().filename());
    }
    buildSysfs(machine / "sysfs", tmp / "sys");
    fs::create_directories(tmp / "home/.config");
    fs::create_directories(tmp / "run");
    fs::permissions(tmp / "run", fs::perms::owner_all, fs::perm_options::replace);
    fs::create_directories(tmp / "app");
    for (const auto& entry : fs::directory_iterator(machine)) {
        if (entry.path().extension() == ".DAT") {
            fs::copy_file(entry.path(), tmp / "app" / entry.path().filename());
        }
    }
    std::error_code ec;
    fs::rename(tmp, state, ec);
    if (ec) {
        // Another run put its state in place first; use that one.
        fs::remove_all(tmp);
        if (!fs::is_directory(state)) {
            throw std::runtime_error("cannot create " + state.string() + ": " + ec.message());
        }
    }
}

// The executable in the state folder: a hard link to this program (a copy
// when the state folder is on another file system), replaced when the
// program changed.
fs::path placeExecutable(const fs::path& state) {
    const std::string self = selfExe();
    const fs::path target = state / "app/zxctl";
    struct stat a {}, b {};
    if (::stat(self.c_str(), &a) == 0 && ::stat(target.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
        a.st_ino == b.st_ino) {
        return target;
    }
    const fs::path tmp = target.string() + "." + std::to_string(::getpid());
    std::error_code ec;
    fs::remove(tmp, ec);
    if (::link(self.c_str(), tmp.c_str()) != 0) {
        fs::copy_file(self, tmp);
        fs::permissions(tmp, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                 fs::perms::others_read | fs::perms::others_exec);
    }
    fs::rename(tmp, target);
    return target;
}

std::string stateRoot() {
    const char* xdg = std::getenv("XDG_STATE_HOME");
    if (xdg != nullptr && xdg[0] == '/') {
        return std::string(xdg) + "/zxdisplaylib/sim";
    }
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/') {
        throw std::runtime_error("neither XDG_STATE_HOME nor HOME names a folder for the simulation's state");
    }
    return std::string(home) + "/.local/state/zxdisplaylib/sim";
}

// The folder of the libzxdisplay this program runs with, so that the
// re-executed copy (whose own RUNPATH may be relative) finds the same one.
std::string libraryDir() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&ZXInitLib), &info) != 0 && info.dli_fname != nullptr) {
        std::error_code ec;
        fs::path p = fs::canonical(info.dli_fname, ec);
        if (!ec) {
            return p.parent_path().string();
        }
    }
    return {};
}

}  // namespace

bool inSimulation() {
    const char* name = std::getenv(kSimulatedEnv);
    return name != nullptr && *name != '\0';
}

std::string simulatedStateStamp() {
    const char* files = std::getenv(kSimulatedStateEnv);
    if (!inSimulation() || files == nullptr) {
        return {};
    }
    std::string stamp;
    std::istringstream in(files);
    std::string path;
    while (std::getline(in, path, ':')) {
        struct stat st {};
        stamp += ::stat(path.c_str(), &st) != 0
                     ? std::string("-;")
                     : std::to_string(st.st_ino) + "@" + std::to_string(st.st_mtim.tv_sec) + "." +
                           std::to_string(st.st_mtim.tv_nsec) + ";";
    }
    return stamp;
}

std::optional<std::string> unsavedSimulatedChange(const std::string& before) {
    const char* files = std::getenv(kSimulatedStateEnv);
    if (before.empty() || simulatedStateStamp() != before) {
        return std::nullopt;
    }
    return std::string("the simulated machine could not save the change (") + files +
           "); it is lost when this run ends";
}

std::vector<std::string> simulatedMachines() {
    std::vector<std::string> names;
    const std::string dir = machinesDir();
    std::error_code ec;
    if (dir.empty()) {
        return names;
    }
    for (const auto& entry : fs::directory_iterator(dir, ec)) {
        if (fs::is_regular_file(entry.path() / "machine.conf", ec)) {
            names.push_back(entry.path().filename().string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string machineDescription(const std::string& name) {
    // Inside the simulation this program runs from the state's app/ folder,
    // beside the state's copy of the machine.
    const fs::path conf = inSimulation() ? fs::path(selfExe()).parent_path().parent_path() / "machine/machine.conf"
                          : machinesDir().empty() ? fs::path()
                                                  : fs::path(machinesDir()) / name / "machine.conf";
    std::error_code ec;
    if (conf.empty() || !fs::is_regular_file(conf, ec)) {
        return {};
    }
    for (const auto& [key, value] : readConf(conf)) {
        if (key == "description") {
            return value;
        }
    }
    return {};
}

int enterSimulation(const std::string& name, bool reset, char** argv) {
    const auto machines = simulatedMachines();
    if (std::find(machines.begin(), machines.end(), name) == machines.end()) {
        std::string list;
        for (const auto& m : machines) {
            list += (list.empty() ? "" : ", ") + m;
        }
        std::fprintf(stderr, "zxctl: no simulated machine '%s' (available: %s)\n", name.c_str(),
                     list.empty() ? "none; they are the install component 'simulator'" : list.c_str());
        return kExitUsage;
    }
    try {
        const fs::path machine = fs::path(machinesDir()) / name;
        const fs::path state = fs::path(stateRoot()) / name;
        // The simulated user's folders are private, as the real ones are.
        if (fs::create_directories(state.parent_path())) {
            fs::permissions(state.parent_path(), fs::perms::owner_all, fs::perm_options::replace);
        }
        std::error_code ec;
        if (reset) {
            removeAside(state);
        } else if (fs::exists(state, ec) && !sameMachine(machine, state / "machine")) {
            std::fprintf(stderr, "zxctl: the simulated machine %s has changed; starting it afresh\n",
                         name.c_str());
            removeAside(state);
        }
        if (!fs::is_directory(state, ec)) {
            createState(machine, state);
        }
        // Beside the state, not in it, so that starting the machine afresh
        // while a run holds its lock keeps the lock.
        const fs::path lockDir = state.string() + ".lock";
        fs::create_directories(lockDir);
        const fs::path exe = placeExecutable(state);

        const std::map<std::string, std::string> vars = {{"{machine}", (state / "machine").string()},
                                                        {"{state}", state.string()}};
        std::string stateFiles;
        for (const auto& [key, value] : readConf(state / "machine/machine.conf")) {
            if (key != "description") {
                ::setenv(key.c_str(), expand(value, vars).c_str(), 1);
            }
            if (key.ends_with("_STATE")) {
                stateFiles += (stateFiles.empty() ? "" : ":") + expand(value, vars);
            }
        }
        ::setenv(kSimulatedStateEnv, stateFiles.c_str(), 1);
        std::string libraryPath = simlibDir();
        const std::string libDir = libraryDir();
        if (!libDir.empty()) {
            libraryPath += ":" + libDir;
        }
        if (const char* old = std::getenv("LD_LIBRARY_PATH"); old != nullptr && *old != '\0') {
            libraryPath += std::string(":") + old;
        }
        ::setenv("LD_LIBRARY_PATH", libraryPath.c_str(), 1);
        ::setenv("HOME", (state / "home").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (state / "home/.config").c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", (state / "run").c_str(), 1);
        ::setenv("ZXDISPLAY_SYSFS_ROOT", (state / "sys").c_str(), 1);
        // The machine's own card lock: the library keeps it in this folder
        // instead of /dev/shm, so every run against this simulated machine
        // shares it and none sees the real machine's lock.
        ::setenv("ZXDISPLAY_LOCK_DIR", lockDir.c_str(), 1);
        ::setenv(kSimulatedEnv, name.c_str(), 1);
        ::execv(exe.c_str(), argv);
        std::fprintf(stderr, "zxctl: cannot run %s: %s\n", exe.c_str(), std::strerror(errno));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zxctl: cannot prepare the simulated machine %s: %s\n", name.c_str(), e.what());
    }
    return kExitSimulation;
}

}  // namespace zxctl
