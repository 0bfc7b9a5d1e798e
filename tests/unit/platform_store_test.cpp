// The per-user store: registry semantics and its file (concurrent writers: ConcurrentStore).
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/test_env.h"

namespace {

using zx::platform::kRegSz;
using zx::platform::StoreResult;

zx::platform::Platform& os() { return zx::platform::native(); }

constexpr const char* kNvKey = "SOFTWARE\\ORVANTEK\\PKM\\NV\\Hardware\\10DE_0611_3457_1458\\";

std::string dbPath() { return zxtest::configDir() + "/zxdisplaylib/registry.db"; }

bool set(const std::string& key, const char* name, std::uint32_t type, const std::string& bytes) {
    return os().storeSet(key, name, type, reinterpret_cast<const std::uint8_t*>(bytes.data()),
                         static_cast<std::uint32_t>(bytes.size()));
}

struct Value {
    StoreResult result = StoreResult::Failed;
    std::uint32_t type = 0;
    std::string bytes;
};

Value query(const std::string& key, const char* name) {
    Value v;
    std::uint8_t buf[512];
    std::uint32_t size = sizeof buf;
    v.result = os().storeQuery(key, name, &v.type, buf, &size);
    if (v.result == StoreResult::Ok) {
        v.bytes.assign(reinterpret_cast<const char*>(buf), size);
    }
    return v;
}

// Rows of one column of the database, read behind the store's back.
std::vector<std::string> column(const char* sql) {
    std::vector<std::string> rows;
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open_v2(dbPath().c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* st = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db, sql, -1, &st, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    while (st != nullptr && sqlite3_step(st) == SQLITE_ROW) {
        rows.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    return rows;
}

// Type and exact bytes come back (stale bytes after a NUL, an empty value); an
// overwrite replaces both; a buffer too small is told the size, untouched.
TEST(PlatformStoreValues, KeepTypeAndBytesAndATooSmallBufferIsUntouched) {
    const std::string block = std::string("35000\0\xff", 7) + std::string(253, '7');
    ASSERT_TRUE(set(kNvKey, "DefaultGPUClock0", kRegSz, "x"));
    ASSERT_TRUE(set(kNvKey, "DefaultGPUClock0", zx::platform::kRegExpandSz, block));
    ASSERT_TRUE(set(kNvKey, "Empty", kRegSz, ""));
    const Value v = query(kNvKey, "DefaultGPUClock0");
    EXPECT_EQ(v.type, zx::platform::kRegExpandSz);
    EXPECT_EQ(v.bytes, block);
    EXPECT_EQ(query(kNvKey, "Empty").result, StoreResult::Ok);
    EXPECT_EQ(query(kNvKey, "Empty").bytes, "");

    std::uint8_t buf[300];
    std::memset(buf, 0xAA, sizeof buf);
    std::uint32_t type = 0, size = 259;
    EXPECT_EQ(os().storeQuery(kNvKey, "DefaultGPUClock0", &type, buf, &size), StoreResult::BufferTooSmall);
    EXPECT_EQ(size, 260u);
    EXPECT_EQ(buf[0], 0xAA);
    // Without a buffer only type and size are told; a buffer without its size is refused.
    type = 0, size = 0;
    EXPECT_EQ(os().storeQuery(kNvKey, "DefaultGPUClock0", &type, nullptr, &size), StoreResult::Ok);
    EXPECT_EQ(type, zx::platform::kRegExpandSz);
    EXPECT_EQ(size, 260u);
    EXPECT_EQ(os().storeQuery(kNvKey, "DefaultGPUClock0", nullptr, nullptr, nullptr), StoreResult::Ok);
    EXPECT_EQ(os().storeQuery(kNvKey, "DefaultGPUClock0", &type, buf, nullptr), StoreResult::Failed);
    EXPECT_EQ(buf[0], 0xAA);
}

TEST(PlatformStoreKeys, NamesIgnoreCaseAndStraySeparatorsAndKeepTheirFirstSpelling) {
    ASSERT_TRUE(set(kNvKey, "GPUVoltageStart", kRegSz, "1"));
    EXPECT_EQ(query("software\\orvantek\\pkm\\nv\\hardware\\10de_0611_3457_1458", "gpuvoltagestart").bytes, "1");
    EXPECT_EQ(query("\\SOFTWARE\\\\ORVANTEK\\PKM\\NV\\Hardware\\10DE_0611_3457_1458\\\\", "GPUVOLTAGESTART").bytes,
              "1");
    // Writing under another spelling overwrites the same value and keeps the names.
    ASSERT_TRUE(set("Software\\Orvantek\\Pkm\\Nv\\Hardware\\10de_0611_3457_1458", "gpuVoltageStart", kRegSz, "2"));
    EXPECT_EQ(query(kNvKey, "GPUVoltageStart").bytes, "2");
    EXPECT_EQ(column("SELECT path FROM store_key ORDER BY path").back() + "\\", kNvKey);
    EXPECT_EQ(column("SELECT name FROM store_value"), std::vector<std::string>{"GPUVoltageStart"});
}

// No bytes is an empty value; a size without bytes is refused.
TEST(PlatformStoreValues, ASizeNeedsItsBytes) {
    EXPECT_TRUE(os().storeSet("Software\\Test", "Empty", kRegSz, nullptr, 0));
    EXPECT_FALSE(os().storeSet("Software\\Test", "Missing", kRegSz, nullptr, 4));
    EXPECT_EQ(column("SELECT name FROM store_value"), std::vector<std::string>{"Empty"});
}

TEST(PlatformStoreKeys, MissingKeyAndMissingValueAreTold) {
    EXPECT_FALSE(os().storeKeyExists("Software\\A\\B"));
    EXPECT_EQ(query("Software\\A\\B", "V").result, StoreResult::KeyNotFound);

    ASSERT_TRUE(os().storeCreateKey("Software\\A\\B"));
    ASSERT_TRUE(os().storeCreateKey("software\\a\\b\\")) << "creating an existing key succeeds";
    EXPECT_TRUE(os().storeKeyExists("Software\\A\\B"));
    EXPECT_TRUE(os().storeKeyExists("Software\\A")) << "keys above are created too";
    EXPECT_FALSE(os().storeKeyExists("Software\\A\\C"));
    EXPECT_FALSE(os().storeKeyExists("Software\\A\\B\\C"));
    EXPECT_EQ(query("Software\\A\\B", "V").result, StoreResult::ValueNotFound);
    ASSERT_TRUE(set("Software\\New\\Key", "V", kRegSz, "x"));
    EXPECT_TRUE(os().storeKeyExists("Software\\New\\Key")) << "setting a value creates its key";
}

TEST(PlatformStoreFile, ALooseFileIsMadePrivate) {
    zxtest::makeDirs(zxtest::configDir() + "/zxdisplaylib");
    zxtest::writeFile(dbPath(), "");
    ASSERT_EQ(::chmod(dbPath().c_str(), 0644), 0);
    ASSERT_TRUE(set("Software\\Test", "V", kRegSz, "x"));
    struct stat st {};
    ASSERT_EQ(::stat(dbPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(column("PRAGMA user_version"), std::vector<std::string>{"1"}) << "the stored schema version";
}

// The call that finds the store broken moves it aside and still succeeds.
TEST(PlatformStoreFile, ABrokenFileIsMovedAsideWithinTheCall) {
    zxtest::makeDirs(zxtest::configDir() + "/zxdisplaylib");
    zxtest::writeFile(dbPath(), std::string(4096, 'x'));
    ASSERT_TRUE(set("Software\\Test", "V", kRegSz, "x"));
    EXPECT_EQ(column("SELECT name FROM store_value"), std::vector<std::string>{"V"});
}

// Each call writes to the store now at its path: another XDG_CONFIG_HOME, a file replaced or one removed.
TEST(PlatformStoreFile, EachCallUsesTheStoreNowAtItsPath) {
    const std::string other = zxtest::testRoot() + "/other";
    const auto names = [] { return column("SELECT name FROM store_value ORDER BY name"); };
    ASSERT_TRUE(set("Software\\Test", "A", kRegSz, "x"));
    ASSERT_EQ(::setenv("XDG_CONFIG_HOME", other.c_str(), 1), 0);
    ASSERT_TRUE(set("Software\\Test", "B", kRegSz, "x"));
    ASSERT_EQ(::setenv("XDG_CONFIG_HOME", zxtest::configDir().c_str(), 1), 0);
    EXPECT_EQ(names(), std::vector<std::string>{"A"});
    ASSERT_EQ(::rename((other + "/zxdisplaylib/registry.db").c_str(), dbPath().c_str()), 0);
    ASSERT_TRUE(set("Software\\Test", "C", kRegSz, "x"));
    ASSERT_EQ(names(), (std::vector<std::string>{"B", "C"}));
    ASSERT_EQ(::unlink(dbPath().c_str()), 0);
    ASSERT_TRUE(set("Software\\Test", "D", kRegSz, "x"));
    EXPECT_EQ(names(), std::vector<std::string>{"D"});
}

}  // namespace
