#include "support/test_env.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace zxtest {

namespace {

std::string g_root;
std::string runtimeDir() { return g_root + "/run"; }

class IsolationListener : public ::testing::EmptyTestEventListener {
public:
    void OnTestStart(const ::testing::TestInfo&) override {
        std::string pattern = (fs::temp_directory_path() / "zxtest-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        g_root = pattern;
        makeDirs(sysfsRoot() + "/bus/pci/devices");
        makeDirs(runtimeDir());
        ::chmod(runtimeDir().c_str(), 0700);
        // The card lock's file lives in lockDir() instead of /dev/shm.
        for (const auto& [name, dir] : {std::pair{"HOME", homeDir()},
                                        {"XDG_CONFIG_HOME", configDir()},
                                        {"XDG_RUNTIME_DIR", runtimeDir()},
                                        {"ZXDISPLAY_SYSFS_ROOT", sysfsRoot()},
                                        {"ZXDISPLAY_LOCK_DIR", lockDir()}}) {
            makeDirs(dir);
            ::setenv(name, dir.c_str(), 1);
        }
        ::unsetenv("XDG_DOCUMENTS_DIR");
    }
    void OnTestEnd(const ::testing::TestInfo&) override {
        if (!g_root.empty() && std::getenv("ZXTEST_KEEP") == nullptr) removeTree(g_root);
        g_root.clear();
    }
};

}  // namespace

const std::string& testRoot() { return g_root; }
std::string homeDir() { return g_root + "/home"; }
std::string configDir() { return g_root + "/home/.config"; }
std::string sysfsRoot() { return g_root + "/sys"; }
std::string lockDir() { return g_root + "/shm"; }

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("cannot write " + path);
    out << content;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> readLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

bool fileExists(const std::string& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

void makeDirs(const std::string& path) { fs::create_directories(path); }

void removeTree(const std::string& path) {
    std::error_code ec;
    fs::remove_all(path, ec);
}

}  // namespace zxtest

int main(int argc, char** argv) {
    ::testing::InitGoogleMock(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new zxtest::IsolationListener);
    return RUN_ALL_TESTS();
}
