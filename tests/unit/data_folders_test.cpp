// Where card data files are found: the Linux search order over its sources,
// and the first readable file of the platform's folders winning.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "api/startup.h"
#include "platform/posix/posix_platform.h"
#include "support/fake_platform.h"

namespace {

using zx::platform::posix::DataFolderSources;
using zx::platform::posix::dataFolderSearch;

struct OrderCase {
    const char* what;
    std::map<std::string, std::string> env;
    std::vector<std::string> expected;
};

TEST(DataFolders, SearchOrderOverEveryLocation) {
    const std::string exe = "/opt/app/";
    const std::string home = "/home/u";
    const std::string installed = "/usr/lib/../share/zxdisplaylib";
    const std::vector<std::string> defaults = {"/usr/local/share/zxdisplaylib/", "/usr/share/zxdisplaylib/"};
    const auto with = [&](std::vector<std::string> first, std::vector<std::string> middle) {
        std::vector<std::string> all = std::move(first);
        all.insert(all.end(), middle.begin(), middle.end());
        all.push_back(installed + "/");
        return all;
    };
    const OrderCase cases[] = {
        {"nothing set: the program's folder, ~/.local/share, the default system folders, the installation",
         {},
         with({exe, home + "/.local/share/zxdisplaylib/"}, defaults)},
        {"ZXDISPLAY_DATA_DIR first",
         {{"ZXDISPLAY_DATA_DIR", "/data"}},
         with({"/data/", exe, home + "/.local/share/zxdisplaylib/"}, defaults)},
        {"XDG_DATA_HOME instead of ~/.local/share",
         {{"XDG_DATA_HOME", "/xdg/home"}},
         with({exe, "/xdg/home/zxdisplaylib/"}, defaults)},
        {"XDG_DATA_DIRS in its order, relative and empty entries skipped",
         {{"XDG_DATA_DIRS", "/b:relative::/a/"}},
         with({exe, home + "/.local/share/zxdisplaylib/"}, {"/b/zxdisplaylib/", "/a/zxdisplaylib/"})},
        {"relative values are ignored",
         {{"ZXDISPLAY_DATA_DIR", "data"}, {"XDG_DATA_HOME", "xdg"}},
         with({exe, home + "/.local/share/zxdisplaylib/"}, defaults)},
        {"a folder named twice is searched once, at its first place",
         {{"ZXDISPLAY_DATA_DIR", "/opt/app"}, {"XDG_DATA_DIRS", "/usr/share:/usr/share"}},
         with({exe, home + "/.local/share/zxdisplaylib/"}, {"/usr/share/zxdisplaylib/"})},
    };
    for (const auto& c : cases) {
        DataFolderSources sources;
        sources.env = [&c](const char* name) -> const char* {
            const auto it = c.env.find(name);
            return it == c.env.end() ? nullptr : it->second.c_str();
        };
        sources.executableFolder = exe;
        sources.home = home;
        sources.installedDataFolder = installed;
        EXPECT_EQ(dataFolderSearch(sources), c.expected) << c.what;
    }
}

TEST(DataFolders, TheFirstReadableFileWinsElseTheFirstFolder) {
    zxtest::FakePlatform os;
    os.dataFolderList = {"/env/", "/opt/host/", "/home/u/.local/share/zxdisplaylib/", "/usr/share/zxdisplaylib/"};
    EXPECT_EQ(zx::findDataFile(os, "NVVGA.DAT"), "/env/NVVGA.DAT");  // none readable
    os.files["/usr/share/zxdisplaylib/NVVGA.DAT"] = {'A', 'B'};
    EXPECT_EQ(zx::findDataFile(os, "NVVGA.DAT"), "/usr/share/zxdisplaylib/NVVGA.DAT");
    os.files["/opt/host/NVVGA.DAT"] = {'A', 'B'};
    EXPECT_EQ(zx::findDataFile(os, "NVVGA.DAT"), "/opt/host/NVVGA.DAT");
    EXPECT_EQ(zx::findDataFile(os, "ATIVGA.DAT"), "/env/ATIVGA.DAT");
}

}  // namespace
