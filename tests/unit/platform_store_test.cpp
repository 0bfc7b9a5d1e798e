// The per-user store: registry semantics and its file (concurrent writers: ConcurrentStore).
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/test_env.h"

namespace {

using zx::platform::kRegExpandSz;
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

TEST(PlatformStoreValues, KeepTheirTypeAndExactBytesAnOverwriteReplacesBoth) {
    std::string block(260, '\0');  // a 260-byte block with stale bytes after the NUL
    std::memcpy(block.data(), "35000", 5);
    block[200] = '\xff';
    block[259] = '7';
    const struct {
        const char* name;
        std::uint32_t type;
        std::string bytes;
    } values[] = {
        {"GPUVoltageStart", kRegSz, std::string("1300", 5)}, {"DefaultGPUClock0", kRegExpandSz, block},
        {"Empty", kRegSz, ""},                               {"Over", kRegExpandSz, std::string(260, 'a')},
        {"Over", kRegSz, std::string("-25", 4)},
    };
    for (const auto& v : values) ASSERT_TRUE(set(kNvKey, v.name, v.type, v.bytes));
    for (const auto& v : values) {
        const Value got = query(kNvKey, v.name);
        if (std::string(v.name) == "Over" && v.type == kRegExpandSz) continue;
        ASSERT_EQ(got.result, StoreResult::Ok) << v.name;
        EXPECT_EQ(got.type, v.type) << v.name;
        EXPECT_EQ(got.bytes, v.bytes) << v.name;
    }
}

TEST(PlatformStoreValues, BufferTooSmallLeavesTheBufferUntouched) {
    ASSERT_TRUE(set("Software\\Test", "V", kRegSz, "0123456789"));
    std::uint8_t buf[20];
    std::memset(buf, 0xAA, sizeof buf);
    std::uint32_t type = 0;
    std::uint32_t size = 9;
    EXPECT_EQ(os().storeQuery("Software\\Test", "V", &type, buf, &size), StoreResult::BufferTooSmall);
    EXPECT_EQ(size, 10u);
    EXPECT_EQ(buf[0], 0xAA);
    size = sizeof buf;
    EXPECT_EQ(os().storeQuery("Software\\Test", "V", &type, buf, &size), StoreResult::Ok);
    EXPECT_EQ(size, 10u);
    EXPECT_EQ(std::memcmp(buf, "0123456789", 10), 0);
    EXPECT_EQ(buf[10], 0xAA) << "nothing written past the value";
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

TEST(PlatformStoreFile, IsPrivateAndFollowsXdgConfigHome) {
    // A loose file already there is tightened.
    zxtest::makeDirs(zxtest::configDir() + "/zxdisplaylib");
    zxtest::writeFile(dbPath(), "");
    ASSERT_EQ(::chmod(dbPath().c_str(), 0644), 0);
    ASSERT_TRUE(set("Software\\Test", "V", kRegSz, "x"));
    struct stat st {};
    ASSERT_EQ(::stat(dbPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    const std::string other = zxtest::testRoot() + "/other-config";
    ::setenv("XDG_CONFIG_HOME", other.c_str(), 1);
    EXPECT_EQ(query("Software\\Test", "V").result, StoreResult::KeyNotFound);
    ASSERT_TRUE(set("Software\\Test", "V", kRegSz, "y"));
    ASSERT_EQ(::stat((other + "/zxdisplaylib").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(::stat((other + "/zxdisplaylib/registry.db").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(PlatformStoreFile, UnusableLocationFails) {
    const std::string blocker = zxtest::testRoot() + "/blocker";
    zxtest::writeFile(blocker, "not a folder");
    ::setenv("XDG_CONFIG_HOME", blocker.c_str(), 1);
    EXPECT_FALSE(set("Software\\Test", "V", kRegSz, "x"));
    EXPECT_FALSE(os().storeCreateKey("Software\\Test"));
    EXPECT_EQ(query("Software\\Test", "V").result, StoreResult::Failed);
}

}  // namespace
