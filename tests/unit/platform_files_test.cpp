// Folders and files: documents folder, executable folder, plain file
// operations and private files through the OS layer.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/posix_platform.h"
#include "support/test_env.h"

namespace {

zx::platform::Platform& os() { return zx::platform::native(); }

bool isDir(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

mode_t modeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st.st_mode;
}

void writeUserDirs(const std::string& configDir, const std::string& content) {
    zxtest::makeDirs(configDir);
    zxtest::writeFile(configDir + "/user-dirs.dirs", content);
}

// --- Documents folder --------------------------------------------------------

TEST(PlatformDocumentsFolder, HomeRelativeEntryIsCreated) {
    writeUserDirs(zxtest::configDir(),
                  "# written by xdg-user-dirs-update\n"
                  "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
                  "XDG_DOCUMENTS_DIR=\"$HOME/My Docs\"\n");
    std::string docs;
    ASSERT_TRUE(os().documentsFolder(docs));
    EXPECT_EQ(docs, zxtest::homeDir() + "/My Docs");
    EXPECT_TRUE(isDir(docs));
}

TEST(PlatformDocumentsFolder, AbsoluteEntryIsCreatedWithParents) {
    const std::string target = zxtest::testRoot() + "/data/user/papers";
    writeUserDirs(zxtest::configDir(), "XDG_DOCUMENTS_DIR=\"" + target + "/\"\n");
    std::string docs;
    ASSERT_TRUE(os().documentsFolder(docs));
    EXPECT_EQ(docs, target) << "no trailing separator";
    EXPECT_TRUE(isDir(target));
}

TEST(PlatformDocumentsFolder, FallsBackToDocumentsInHome) {
    std::string docs;
    ASSERT_TRUE(os().documentsFolder(docs));
    EXPECT_EQ(docs, zxtest::homeDir() + "/Documents");
    EXPECT_TRUE(isDir(docs));

    // An entry that is neither $HOME-relative nor absolute is ignored.
    writeUserDirs(zxtest::configDir(), "XDG_DOCUMENTS_DIR=\"relative/docs\"\n");
    ASSERT_TRUE(os().documentsFolder(docs));
    EXPECT_EQ(docs, zxtest::homeDir() + "/Documents");
}

TEST(PlatformDocumentsFolder, XdgConfigHomeIsPreferredOverHomeConfig) {
    const std::string xdg = zxtest::testRoot() + "/xdg";
    writeUserDirs(xdg, "XDG_DOCUMENTS_DIR=\"$HOME/FromXdg\"\n");
    writeUserDirs(zxtest::homeDir() + "/.config", "XDG_DOCUMENTS_DIR=\"$HOME/FromHome\"\n");
    ::setenv("XDG_CONFIG_HOME", xdg.c_str(), 1);
    std::string docs;
    ASSERT_TRUE(os().documentsFolder(docs));
    EXPECT_EQ(docs, zxtest::homeDir() + "/FromXdg");

    ::unsetenv("XDG_CONFIG_HOME");
    ASSERT_TRUE(os().documentsFolder(docs));
    EXPECT_EQ(docs, zxtest::homeDir() + "/FromHome");
}

TEST(PlatformDocumentsFolder, FailsWhenTheFolderCannotBeCreated) {
    zxtest::writeFile(zxtest::homeDir() + "/blocker", "a file where a folder should go");
    writeUserDirs(zxtest::configDir(), "XDG_DOCUMENTS_DIR=\"$HOME/blocker/Docs\"\n");
    std::string docs;
    EXPECT_FALSE(os().documentsFolder(docs));
}

// --- Executable folder -------------------------------------------------------

TEST(PlatformExecutableFolder, IsTheFolderOfTheRunningProgram) {
    std::string folder;
    ASSERT_TRUE(os().executableFolder(folder));
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), '/');
    EXPECT_TRUE(zxtest::fileExists(folder + "zx_unit_tests"));
}

// --- Plain folders and files -------------------------------------------------

TEST(PlatformFiles, CreateFolderAcceptsAnExistingFolderOnly) {
    const std::string dir = zxtest::testRoot() + "/new";
    EXPECT_TRUE(os().createFolder(dir));
    EXPECT_TRUE(isDir(dir));
    EXPECT_TRUE(os().createFolder(dir));

    zxtest::writeFile(zxtest::testRoot() + "/file", "x");
    EXPECT_FALSE(os().createFolder(zxtest::testRoot() + "/file"));
    EXPECT_FALSE(os().createFolder(zxtest::testRoot() + "/missing/child"));
}

TEST(PlatformFiles, DeleteFile) {
    const std::string file = zxtest::testRoot() + "/doomed";
    zxtest::writeFile(file, "x");
    EXPECT_TRUE(os().deleteFile(file));
    EXPECT_FALSE(zxtest::fileExists(file));
    EXPECT_FALSE(os().deleteFile(file));
}

TEST(PlatformFiles, ReadFileReturnsExactBytes) {
    const std::string file = zxtest::testRoot() + "/data";
    const std::string content("binary\0data\r\n\xff", 14);
    zxtest::writeFile(file, content);
    std::vector<std::uint8_t> out;
    ASSERT_TRUE(os().readFile(file, 1024, out));
    EXPECT_EQ(std::string(out.begin(), out.end()), content);

    zxtest::writeFile(file, "");
    out.assign(3, 0);
    ASSERT_TRUE(os().readFile(file, 1024, out));
    EXPECT_TRUE(out.empty());
}

TEST(PlatformFiles, ReadFileHonoursTheSizeLimit) {
    const std::string file = zxtest::testRoot() + "/data";
    zxtest::writeFile(file, "12345");
    std::vector<std::uint8_t> out;
    EXPECT_TRUE(os().readFile(file, 5, out));
    EXPECT_EQ(out.size(), 5u);
    EXPECT_FALSE(os().readFile(file, 4, out));
}

TEST(PlatformFiles, ReadFileRefusesWhatIsNoRegularFile) {
    std::vector<std::uint8_t> out;
    EXPECT_FALSE(os().readFile(zxtest::testRoot() + "/missing", 1024, out));
    EXPECT_FALSE(os().readFile(zxtest::testRoot(), 1024, out));
    const std::string fifo = zxtest::testRoot() + "/fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(os().readFile(fifo, 1024, out)) << "a FIFO must neither block nor be read";
}

// --- Private files -----------------------------------------------------------

TEST(PlatformPrivateFile, IsOwnerOnlyAndReplacesAnOldFile) {
    const std::string file = zxtest::testRoot() + "/VGA.ini";
    zxtest::writeFile(file, "old contents that are longer");
    ::chmod(file.c_str(), 0644);
    {
        auto writer = os().createPrivateFile(file);
        ASSERT_NE(writer, nullptr);
        EXPECT_TRUE(writer->write("new", 3));
        EXPECT_TRUE(writer->write("er", 2));
    }
    EXPECT_EQ(zxtest::readFile(file), "newer");
    EXPECT_EQ(modeOf(file) & 07777, 0600u);
}

TEST(PlatformPrivateFile, PlantedLinkIsReplacedAndItsTargetUntouched) {
    const std::string target = zxtest::testRoot() + "/precious";
    zxtest::writeFile(target, "keep me");
    const std::string file = zxtest::testRoot() + "/VGA.ini";
    ASSERT_EQ(::symlink(target.c_str(), file.c_str()), 0);
    {
        auto writer = os().createPrivateFile(file);
        ASSERT_NE(writer, nullptr);
        EXPECT_TRUE(writer->write("profile", 7));
    }
    EXPECT_TRUE(S_ISREG(modeOf(file)));
    EXPECT_EQ(zxtest::readFile(file), "profile");
    EXPECT_EQ(zxtest::readFile(target), "keep me");

    // A dangling link must not lead to a file being created at its target.
    const std::string absent = zxtest::testRoot() + "/absent";
    ASSERT_EQ(::unlink(file.c_str()), 0);
    ASSERT_EQ(::symlink(absent.c_str(), file.c_str()), 0);
    EXPECT_NE(os().createPrivateFile(file), nullptr);
    EXPECT_FALSE(zxtest::fileExists(absent));
}

TEST(PlatformPrivateFile, FailsWhereNoFileCanBe) {
    EXPECT_EQ(os().createPrivateFile(zxtest::testRoot() + "/missing/VGA.ini"), nullptr);
    EXPECT_EQ(os().createPrivateFile(zxtest::testRoot()), nullptr) << "a folder is not replaced";
}

TEST(PlatformPrivateFile, ReadsBackAndRemovesOnlyItsOwnFile) {
    const std::string file = zxtest::testRoot() + "/VGA.ini";
    auto mine = os().createPrivateFile(file);
    ASSERT_NE(mine, nullptr);
    const std::string written = "[S]\nk=mine\n";
    ASSERT_TRUE(mine->write(written.data(), written.size()));

    // Another file renamed over the name changes nothing that is read back,
    // and the writer leaves that file in place.
    const std::string planted = zxtest::testRoot() + "/planted";
    zxtest::writeFile(planted, "[S]\nk=planted\n");
    ASSERT_EQ(::rename(planted.c_str(), file.c_str()), 0);
    std::vector<std::uint8_t> back;
    ASSERT_TRUE(mine->readBack(1024, back));
    EXPECT_EQ(std::string(back.begin(), back.end()), written);
    EXPECT_FALSE(mine->readBack(written.size() - 1, back)) << "the size limit holds";
    EXPECT_FALSE(mine->remove());
    EXPECT_EQ(zxtest::readFile(file), "[S]\nk=planted\n");

    ASSERT_EQ(::unlink(file.c_str()), 0);
    auto own = os().createPrivateFile(file);
    ASSERT_NE(own, nullptr);
    EXPECT_TRUE(own->remove());
    EXPECT_FALSE(zxtest::fileExists(file));
}

// --- Home and configuration folders ----------------------------------------------

TEST(PlatformHomeFolder, RelativeHomeAndConfigVariablesAreIgnored) {
    const std::string savedHome = zxtest::homeDir();
    ::setenv("HOME", "relative/home", 1);
    ::setenv("XDG_CONFIG_HOME", "relative/config", 1);
    std::string home;
    std::string config;
    const bool haveHome = zx::platform::posix::homeFolder(home);
    const bool haveConfig = zx::platform::posix::configFolder(config);
    ::setenv("HOME", savedHome.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", zxtest::configDir().c_str(), 1);

    // The password database's entry takes the place of the relative HOME.
    if (haveHome) {
        ASSERT_FALSE(home.empty());
        EXPECT_EQ(home.front(), '/');
        EXPECT_EQ(home.find("relative"), std::string::npos);
        ASSERT_TRUE(haveConfig);
        EXPECT_EQ(config.front(), '/');
        EXPECT_EQ(config.find("relative"), std::string::npos);
    } else {
        EXPECT_FALSE(haveConfig);
    }
}

}  // namespace
