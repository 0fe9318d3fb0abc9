#include "platform/json_settings_store.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <thread>

#include "support/temp_dir.h"

using hw::Bytes;
using hw::Date;
using hw::JsonSettingsStore;
using hw::SettingDict;
using hw::SettingValue;
using hw::StringList;
using hw::test::TempDir;

namespace {

std::vector<std::string> filesIn(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class JsonSettingsStoreTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string path = dir.file("config/havenway/settings.json");
};

TEST_F(JsonSettingsStoreTest, EveryKindSurvivesTheFileAndKeepsItsKind) {
    const std::pair<std::string, SettingValue> rows[] = {
        {"bool", true},
        {"int", std::int64_t{-42}},
        {"intMax", std::numeric_limits<std::int64_t>::max()},
        {"intMin", std::numeric_limits<std::int64_t>::min()},
        {"double", 0.1},
        {"wholeDouble", 3.0},  // stays a double, not an integer
        {"inf", -std::numeric_limits<double>::infinity()},
        {"string", std::string(" Text with blanks \"quoted\" \n ")},
        {"numericString", std::string("42")},
        {"data", Bytes{0x00, 0xff, 0x10, 0x00, 0x7f}},
        {"emptyData", Bytes{}},
        {"date", Date{1700000000.125}},
        {"list", StringList{"a", "", "c"}},
        {"dict", SettingDict{{"inner", SettingDict{{"n", 1}, {"s", std::string("x")}}}, {"flag", true}}},
    };
    {
        JsonSettingsStore store(path);
        for (const auto& [key, value] : rows) store.set(key, value);
        store.set("nan", std::numeric_limits<double>::quiet_NaN());
        store.set("notUtf8", std::string("a\xff" "b"));  // must not fail the whole write
        ASSERT_TRUE(store.synchronize());
    }
    JsonSettingsStore store(path);
    for (const auto& [key, value] : rows) EXPECT_EQ(store.object(key), value) << key;
    EXPECT_TRUE(std::isnan(store.doubleForKey("nan")));
    EXPECT_TRUE(store.stringForKey("notUtf8"));
    EXPECT_EQ(store.integerForKey("wholeDouble"), 0);

    // Reads of another kind answer as if absent.
    EXPECT_EQ(store.integerForKey("numericString"), 0);
    EXPECT_EQ(store.stringForKey("data"), std::nullopt);
    EXPECT_EQ(store.dateForKey("double"), std::nullopt);
    EXPECT_FALSE(store.backupPath());
}

TEST_F(JsonSettingsStoreTest, WritesAPrivateFileInAPrivateFolderOnlyWhenChanged) {
    JsonSettingsStore store(path);
    EXPECT_TRUE(store.synchronize());
    EXPECT_FALSE(std::filesystem::exists(path)) << "nothing changed, nothing written";

    store.set("k", "v");
    ASSERT_TRUE(store.synchronize());
    EXPECT_EQ(TempDir::mode(path), 0600u);
    EXPECT_EQ(TempDir::mode(dir.file("config/havenway")), 0700u);
    EXPECT_EQ(filesIn(dir.file("config/havenway")), std::vector<std::string>{"settings.json"}) << "no temp file left";

    // The value it already holds is no change.
    const auto written = std::filesystem::last_write_time(path);
    store.set("k", "v");
    ASSERT_TRUE(store.synchronize());
    EXPECT_EQ(std::filesystem::last_write_time(path), written);

    // A removal is a change too.
    store.remove("k");
    ASSERT_TRUE(store.synchronize());
    EXPECT_EQ(JsonSettingsStore(path).stringForKey("k"), std::nullopt);
}

TEST_F(JsonSettingsStoreTest, DefaultsShowThroughReadsAndSnapshotButAreNeverSaved) {
    JsonSettingsStore store(path);
    store.registerDefaults({{"a", true}, {"b", 5}, {"c", "default"}});
    store.set("b", 7);
    store.set("d", 1.5);

    EXPECT_EQ(store.integerForKey("b"), 7);
    EXPECT_EQ(store.snapshot(), (SettingDict{{"a", true}, {"b", 7}, {"c", "default"}, {"d", 1.5}}));

    store.remove("b");
    EXPECT_EQ(store.integerForKey("b"), 5);
    ASSERT_TRUE(store.synchronize());
    EXPECT_EQ(JsonSettingsStore(path).snapshot(), (SettingDict{{"d", 1.5}}));
}

TEST_F(JsonSettingsStoreTest, CorruptFileIsMovedAsideNeverOverAnEarlierBackup) {
    const std::string folder = dir.file("config/havenway");
    std::filesystem::create_directories(folder);
    TempDir::write(path, "{\"values\": {\"k\": ");

    std::string firstBackup;
    {
        JsonSettingsStore store(path);
        store.registerDefaults({{"k", "default"}});
        EXPECT_EQ(store.stringForKey("k"), "default");
        ASSERT_TRUE(store.backupPath());
        firstBackup = *store.backupPath();
        store.set("k", "new");
        ASSERT_TRUE(store.synchronize());
    }
    EXPECT_EQ(JsonSettingsStore(path).stringForKey("k"), "new");

    // Corrupt again within the same second: the second backup takes another name.
    TempDir::write(path, "not json at all");
    JsonSettingsStore again(path);
    ASSERT_TRUE(again.backupPath());
    EXPECT_NE(*again.backupPath(), firstBackup);
    EXPECT_EQ(TempDir::read(firstBackup), "{\"values\": {\"k\": ");
    EXPECT_EQ(TempDir::read(*again.backupPath()), "not json at all");
}

TEST_F(JsonSettingsStoreTest, UnreadableEntriesAreBackedUpAndTheRestKept) {
    std::filesystem::create_directories(dir.file("config/havenway"));
    const std::string original = R"({"version": 1, "values": {
        "good": {"type": "integer", "value": 3},
        "fromTheFuture": {"type": "colour", "value": "#fff"},
        "wrongShape": {"type": "integer", "value": "3"},
        "badData": {"type": "data", "value": "!!"},
        "tooBig": {"type": "integer", "value": 18446744073709551615},
        "halfDict": {"type": "dictionary", "value": {"x": {"type": "bool", "value": 1}}}
    }})";
    TempDir::write(path, original);
    {
        JsonSettingsStore store(path);
        EXPECT_EQ(store.snapshot(), (SettingDict{{"good", 3}}));
        ASSERT_TRUE(store.backupPath());
        EXPECT_EQ(TempDir::read(*store.backupPath()), original);
    }
    // What could be read is on disk again without any synchronize.
    JsonSettingsStore reopened(path);
    EXPECT_EQ(reopened.snapshot(), (SettingDict{{"good", 3}}));
    EXPECT_FALSE(reopened.backupPath());
}

TEST_F(JsonSettingsStoreTest, OddFilesNeverCrashTheLoad) {
    std::filesystem::create_directories(dir.file("config/havenway"));
    for (const std::string& text : std::vector<std::string>{"", "[]", "null", "{\"values\": []}", "\xff\xfe{}", std::string(100000, '['),
                                   "{\"values\": {\"k\": {\"type\": \"double\", \"value\": 1e999}}}"}) {
        TempDir::write(path, text);
        JsonSettingsStore store(path);
        EXPECT_TRUE(store.backupPath()) << text.substr(0, 40);
        EXPECT_TRUE(store.snapshot().empty());
    }
    // A folder where the file should be is moved aside as well.
    std::filesystem::create_directories(path);
    JsonSettingsStore store(path);
    EXPECT_TRUE(store.backupPath());
    store.set("k", 1);
    EXPECT_TRUE(store.synchronize());
}

constexpr const char* kThreadKeys[] = {"t0", "t1", "t2", "t3"};

TEST_F(JsonSettingsStoreTest, ConcurrentWritersLeaveTheLastValuesOnDisk) {
    JsonSettingsStore store(path);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&store, t] {
            const std::string key = kThreadKeys[t];
            for (int i = 0; i <= 50; ++i) {
                store.set(key, i);
                (void)store.object("t0");
                (void)store.snapshot();
                if (i % 10 == 0) store.synchronize();
            }
        });
    }
    for (auto& th : threads) th.join();
    ASSERT_TRUE(store.synchronize());
    JsonSettingsStore reopened(path);
    for (const char* key : kThreadKeys) EXPECT_EQ(reopened.integerForKey(key), 50);
}

}  // namespace
