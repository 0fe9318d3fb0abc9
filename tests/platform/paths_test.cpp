#include "platform/paths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>

#include "platform/base64.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

using hw::test::TempDir;
namespace paths = hw::paths;

namespace {

using hw::test::ScopedEnv;

TEST(Paths, EveryLocationFollowsTheEnvironment) {
    ScopedEnv env;
    for (const char* name : {"HAVENWAY_CONFIG_DIR", "HAVENWAY_DATA_DIR", "HAVENWAY_LOGS_DIR", "HAVENWAY_HELPER_SOCKET",
                             "HAVENWAY_SETTINGS_FILE", "HAVENWAY_SECRETS_FILE", "XDG_CONFIG_HOME", "XDG_DATA_HOME",
                             "XDG_STATE_HOME"}) {
        env.set(name, nullptr);
    }
    env.set("HOME", "/home/u");
    EXPECT_EQ(paths::dataDir(), "/home/u/.local/share/havenway");
    EXPECT_EQ(paths::logsDir(), "/home/u/.local/state/havenway/logs");
    EXPECT_EQ(paths::helperSocket(), "/run/havenway/helper.sock");
    EXPECT_EQ(paths::settingsFile(), "/home/u/.config/havenway/settings.json");
    EXPECT_EQ(paths::secretsFile(), "/home/u/.local/share/havenway/secrets.json");

    env.set("XDG_CONFIG_HOME", "/x/config/");
    env.set("XDG_DATA_HOME", "/x/data");
    env.set("XDG_STATE_HOME", "relative/is/ignored");
    EXPECT_EQ(paths::configDir(), "/x/config/havenway");
    EXPECT_EQ(paths::secretsFile(), "/x/data/havenway/secrets.json");
    EXPECT_EQ(paths::logsDir(), "/home/u/.local/state/havenway/logs") << "a relative folder is ignored";

    env.set("HAVENWAY_CONFIG_DIR", "/h/c");
    env.set("HAVENWAY_LOGS_DIR", "/h/l");
    env.set("HAVENWAY_HELPER_SOCKET", "/h/s.sock");
    env.set("HAVENWAY_SECRETS_FILE", "/h/secrets");
    EXPECT_EQ(paths::settingsFile(), "/h/c/settings.json");
    EXPECT_EQ(paths::logsDir(), "/h/l");
    EXPECT_EQ(paths::helperSocket(), "/h/s.sock");
    EXPECT_EQ(paths::secretsFile(), "/h/secrets");

    // Without HOME the password database answers.
    env.set("HOME", nullptr);
    EXPECT_FALSE(paths::home().empty());
}

TEST(Paths, PrivateDirIsCreatedWithParentsAndNarrowed) {
    TempDir dir;
    const std::string deep = dir.file("a/b/c");
    ASSERT_TRUE(paths::ensurePrivateDir(deep));
    EXPECT_EQ(TempDir::mode(deep), 0700u);
    EXPECT_EQ(TempDir::mode(dir.file("a")), 0700u);

    ::chmod(deep.c_str(), 0755);
    ASSERT_TRUE(paths::ensurePrivateDir(deep + "/"));
    EXPECT_EQ(TempDir::mode(deep), 0700u);

    TempDir::write(dir.file("file"), "x");
    EXPECT_FALSE(paths::ensurePrivateDir(dir.file("file")));
    EXPECT_FALSE(paths::ensurePrivateDir(dir.file("file/sub")));

    // A shared sticky folder is never narrowed, even by root.
    const std::string shared = dir.file("shared");
    ASSERT_EQ(::mkdir(shared.c_str(), 01777), 0);
    ::chmod(shared.c_str(), 01777);
    EXPECT_FALSE(paths::ensurePrivateDir(shared));
    EXPECT_EQ(TempDir::mode(shared), 01777u);
}

TEST(Paths, AtomicWriteReplacesWholeFileWithItsModeAndLeavesNoTemp) {
    TempDir dir;
    const std::string file = dir.file("f.json");
    TempDir::write(file, std::string(10000, 'x'));
    ::chmod(file.c_str(), 0644);
    ASSERT_TRUE(paths::writeFileAtomically(file, "short"));
    EXPECT_EQ(TempDir::read(file), "short");
    EXPECT_EQ(TempDir::mode(file), 0600u);
    ASSERT_TRUE(paths::writeFileAtomically(file, std::string("bin\0ary", 7), 0644));
    EXPECT_EQ(TempDir::read(file), std::string("bin\0ary", 7));
    EXPECT_EQ(TempDir::mode(file), 0644u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1) << "no temp file left";
    EXPECT_FALSE(paths::writeFileAtomically(dir.file("missing/f"), "x"));
}

TEST(Paths, ReadFileReportsMissingTooLargeAndFolders) {
    TempDir dir;
    std::string out;
    EXPECT_EQ(paths::readFile(dir.file("none"), out, 10), paths::ReadStatus::Missing);
    TempDir::write(dir.file("big"), std::string(11, 'x'));
    EXPECT_EQ(paths::readFile(dir.file("big"), out, 10), paths::ReadStatus::TooLarge);
    EXPECT_EQ(paths::readFile(dir.file("big"), out, 11), paths::ReadStatus::Ok);
    EXPECT_EQ(out, std::string(11, 'x'));
    EXPECT_EQ(paths::readFile(dir.path(), out, 10), paths::ReadStatus::Failed);
}

TEST(Paths, MoveAsideNeverReplacesAnEarlierFile) {
    TempDir dir;
    const std::string file = dir.file("s.json");
    std::vector<std::string> moved;
    for (int i = 0; i < 3; ++i) {
        TempDir::write(file, std::to_string(i));
        auto target = paths::moveAside(file, "corrupt");
        ASSERT_TRUE(target);
        moved.push_back(*target);
        EXPECT_FALSE(std::filesystem::exists(file));
    }
    EXPECT_EQ(moved, (std::vector<std::string>{file + ".corrupt", file + ".corrupt.1", file + ".corrupt.2"}));
    EXPECT_EQ(TempDir::read(moved[0]), "0");
    EXPECT_FALSE(paths::moveAside(file, "corrupt"));
}

TEST(Base64, PublishedVectorsAndOnlyCanonicalText) {
    const std::pair<std::string, std::string> vectors[] = {
        {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"}};
    for (const auto& [plain, encoded] : vectors) {
        const hw::Bytes bytes(plain.begin(), plain.end());
        EXPECT_EQ(hw::b64::encode(bytes), encoded);
        EXPECT_EQ(hw::b64::decode(encoded), bytes);
    }
    const hw::Bytes all = [] {
        hw::Bytes b;
        for (int i = 0; i < 256; ++i) b.push_back(static_cast<std::uint8_t>(i));
        return b;
    }();
    EXPECT_EQ(hw::b64::decode(hw::b64::encode(all)), all);
    for (const char* bad : {"Zg=", "Zh==", "Zm9=", "Z===", "Zg==Zg==", "Zm9v\n", "Zm 9", "====", "Zm8_"}) {
        EXPECT_EQ(hw::b64::decode(bad), std::nullopt) << bad;
    }
}

}  // namespace
