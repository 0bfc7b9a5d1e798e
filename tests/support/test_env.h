// Per-test isolation: every test runs with its own temporary HOME, XDG folders, runtime folder, card lock folder and
// (empty) sysfs root, removed when it ends. The developer's real folders are never touched.
#pragma once

#include <string>
#include <vector>

namespace zxtest {

// The current test's private root folder.
const std::string& testRoot();
// Folders inside it that the environment variables point to.
std::string homeDir();    // $HOME
std::string configDir();  // $XDG_CONFIG_HOME
std::string sysfsRoot();  // $ZXDISPLAY_SYSFS_ROOT
std::string lockDir();    // $ZXDISPLAY_LOCK_DIR, the card lock's folder

// Helpers for files in tests.
void writeFile(const std::string& path, const std::string& content);
std::string readFile(const std::string& path);
std::vector<std::string> readLines(const std::string& path);  // none when the file is missing
bool fileExists(const std::string& path);
void makeDirs(const std::string& path);
void removeTree(const std::string& path);

}  // namespace zxtest
