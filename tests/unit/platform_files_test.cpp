// Folders, files and libraries through the OS layer: documents folder, reads,
// private files and loading by name.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/posix_platform.h"
#include "support/test_env.h"

namespace {

zx::platform::Platform& os() { return zx::platform::native(); }

void writeUserDirs(const std::string& configDir, const std::string& content) {
    zxtest::makeDirs(configDir);
    zxtest::writeFile(configDir + "/user-dirs.dirs", content);
}

TEST(PlatformDocumentsFolder, TheUsersDirectorySettingOrDocumentsInHomeIsCreated) {
    const std::string xdg = zxtest::testRoot() + "/xdg";
    const std::string target = zxtest::testRoot() + "/data/user/papers";
    struct Case {
        const char* what;
        std::string configHome;  // where user-dirs.dirs is written; empty: none; "-": XDG_CONFIG_HOME unset
        std::string entry;
        std::string expected;  // empty: fails
    };
    const Case cases[] = {
        {"no settings", "", "", zxtest::homeDir() + "/Documents"},
        {"home-relative", xdg, "# comment\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\nXDG_DOCUMENTS_DIR=\"$HOME/My Docs\"\n",
         zxtest::homeDir() + "/My Docs"},
        {"absolute, with parents, no trailing separator", xdg, "XDG_DOCUMENTS_DIR=\"" + target + "/\"\n", target},
        {"neither is ignored", xdg, "XDG_DOCUMENTS_DIR=\"relative/docs\"\n", zxtest::homeDir() + "/Documents"},
        {"HOME/.config without XDG_CONFIG_HOME", "-", "XDG_DOCUMENTS_DIR=\"$HOME/FromHome\"\n",
         zxtest::homeDir() + "/FromHome"},
        {"a file in the way", xdg, "XDG_DOCUMENTS_DIR=\"$HOME/blocker/Docs\"\n", ""},
    };
    zxtest::writeFile(zxtest::homeDir() + "/blocker", "a file where a folder should go");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.configHome == "-") {
            // Kept for the last case: XDG_CONFIG_HOME is preferred over it.
            writeUserDirs(zxtest::homeDir() + "/.config", c.entry);
            ::unsetenv("XDG_CONFIG_HOME");
        } else {
            ::setenv("XDG_CONFIG_HOME", (c.configHome.empty() ? zxtest::configDir() : c.configHome).c_str(), 1);
            if (!c.configHome.empty()) writeUserDirs(c.configHome, c.entry);
        }
        std::string docs;
        EXPECT_EQ(os().documentsFolder(docs), !c.expected.empty());
        if (!c.expected.empty()) {
            EXPECT_EQ(docs, c.expected);
            struct stat st {};
            EXPECT_TRUE(::lstat(docs.c_str(), &st) == 0 && S_ISDIR(st.st_mode));
        }
    }
    ::setenv("XDG_CONFIG_HOME", zxtest::configDir().c_str(), 1);
}

TEST(PlatformFiles, ReadFileReturnsExactBytesWithinTheLimitOfRegularFilesOnly) {
    const std::string file = zxtest::testRoot() + "/data";
    const std::string content("binary\0data\r\n\xff", 14);
    zxtest::writeFile(file, content);
    std::vector<std::uint8_t> out;
    ASSERT_TRUE(os().readFile(file, 14, out));
    EXPECT_EQ(std::string(out.begin(), out.end()), content);
    EXPECT_FALSE(os().readFile(file, 13, out));

    EXPECT_FALSE(os().readFile(zxtest::testRoot() + "/missing", 1024, out));
    EXPECT_FALSE(os().readFile(zxtest::testRoot(), 1024, out));
    const std::string fifo = zxtest::testRoot() + "/fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(os().readFile(fifo, 1024, out)) << "a FIFO must neither block nor be read";
    // A kernel file tells a size of 0 and has text: it is read to its end, within the limit.
    ASSERT_TRUE(os().readFile("/proc/self/status", 1 << 16, out));
    EXPECT_EQ(std::string(out.begin(), out.end()).rfind("Name:", 0), 0u);
    EXPECT_FALSE(os().readFile("/proc/self/status", 8, out));
    // A folder already there is one; a file at the name is not.
    EXPECT_TRUE(os().createFolder(zxtest::testRoot()));
    EXPECT_FALSE(os().createFolder(file));
}

// An old file, a planted link or a dangling one at the name is replaced by an
// owner-only file; the link's target is never written or created.
TEST(PlatformPrivateFile, ReplacesWhatIsThereWithAnOwnerOnlyFileAndFollowsNoLink) {
    const std::string file = zxtest::testRoot() + "/VGA.ini";
    const std::string target = zxtest::testRoot() + "/precious";
    const std::string absent = zxtest::testRoot() + "/absent";
    zxtest::writeFile(target, "keep me");
    const std::function<void()> plant[] = {
        [&] {
            zxtest::writeFile(file, "old contents that are longer");
            ::chmod(file.c_str(), 0644);
        },
        [&] { ASSERT_EQ(::symlink(target.c_str(), file.c_str()), 0); },
        [&] { ASSERT_EQ(::symlink(absent.c_str(), file.c_str()), 0); },
    };
    for (const auto& p : plant) {
        ::unlink(file.c_str());
        p();
        {
            auto writer = os().createPrivateFile(file);
            ASSERT_NE(writer, nullptr);
            EXPECT_TRUE(writer->write("new", 3));
            EXPECT_TRUE(writer->write("er", 2));
        }
        struct stat st {};
        EXPECT_EQ(::lstat(file.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode, S_IFREG | 0600);
        EXPECT_EQ(zxtest::readFile(file), "newer");
    }
    EXPECT_EQ(zxtest::readFile(target), "keep me");
    EXPECT_FALSE(zxtest::fileExists(absent));
    EXPECT_EQ(os().createPrivateFile(zxtest::testRoot() + "/missing/VGA.ini"), nullptr);
    EXPECT_EQ(os().createPrivateFile(zxtest::testRoot()), nullptr) << "a folder is not replaced";
}

TEST(PlatformHomeFolder, RelativeHomeAndConfigVariablesAreIgnored) {
    const std::string savedHome = zxtest::homeDir();
    ::setenv("HOME", "relative/home", 1);
    ::setenv("XDG_CONFIG_HOME", "relative/config", 1);
    std::string home, config;
    const bool haveHome = zx::platform::posix::homeFolder(home);
    const bool haveConfig = zx::platform::posix::configFolder(config);
    ::setenv("HOME", savedHome.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", zxtest::configDir().c_str(), 1);
    // The password database's entry takes the place of the relative HOME.
    EXPECT_EQ(haveConfig, haveHome);
    for (const std::string& folder : {home, config}) {
        EXPECT_TRUE(!haveHome || (folder.rfind('/', 0) == 0 && folder.find("relative") == std::string::npos)) << folder;
    }
}

// Vendor libraries are loaded by bare name; an empty name must not hand back
// the main program, nor a symbol lookup work without a library.
TEST(PlatformDynload, LoadsByNameOnly) {
    const auto lib = os().loadLibrary("libm.so.6");
    ASSERT_NE(lib, 0);
    EXPECT_NE(os().findSymbol(lib, "fabs"), nullptr);
    EXPECT_EQ(os().findSymbol(lib, "ZXNoSuchEntryPoint"), nullptr);
    os().freeLibrary(lib);
    EXPECT_EQ(os().loadLibrary(""), 0);
    EXPECT_EQ(os().findSymbol(0, "fabs"), nullptr);
}

}  // namespace
