#include "platform/file_secret_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <thread>

#include "platform/libsecret_secret_store.h"
#include "platform/secret_store_factory.h"
#include "support/temp_dir.h"
#include "support/capture_log.h"
#include "support/secret_store_contract.h"

using hw::Bytes;
using hw::FileSecretStore;
using hw::SecretStatus;
using hw::test::CaptureLog;
using hw::test::TempDir;

namespace {

class FileSecretStoreTest : public ::testing::Test {
protected:
    void TearDown() override { hw::log::setSink(nullptr); }
    TempDir dir;
    std::shared_ptr<CaptureLog> log = CaptureLog::install();
    std::string path = dir.file("data/havenway/secrets.json");
};

TEST_F(FileSecretStoreTest, KeepsItemsByServiceAndKeyInAPrivateFile) {
    hw::test::expectSecretStoreContract([this] { return std::make_unique<FileSecretStore>(path); });
    EXPECT_EQ(TempDir::mode(path), 0600u);
    EXPECT_EQ(TempDir::mode(dir.file("data/havenway")), 0700u);
}

TEST_F(FileSecretStoreTest, DamagedFileIsKeptAsideAndLooseModeNarrowed) {
    std::filesystem::create_directories(dir.file("data/havenway"));
    const std::string damaged = R"({"items": {"svc": {"k": "not base64!"}}})";
    TempDir::write(path, damaged);
    FileSecretStore store(path);
    EXPECT_EQ(store.read("svc", "k").status, SecretStatus::Absent);
    int backups = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.file("data/havenway"))) {
        if (e.path().filename().string().rfind("secrets.json.corrupt-", 0) == 0) {
            ++backups;
            EXPECT_EQ(TempDir::read(e.path().string()), damaged);
        }
    }
    EXPECT_EQ(backups, 1);

    ASSERT_TRUE(store.writeString("svc", "k", "v"));
    ::chmod(path.c_str(), 0644);
    EXPECT_EQ(store.read("svc", "k").text(), "v");
    EXPECT_EQ(TempDir::mode(path), 0600u);
}

TEST_F(FileSecretStoreTest, AFileThatCannotBeReadIsNeverReplaced) {
    std::filesystem::create_directories(path);  // a folder where the file should be
    FileSecretStore store(path);
    EXPECT_EQ(store.read("svc", "k").status, SecretStatus::Error);
    EXPECT_FALSE(store.writeString("svc", "k", "v"));
    EXPECT_FALSE(store.remove("svc", "k"));
    EXPECT_TRUE(std::filesystem::is_directory(path));
}

std::string serviceName(std::size_t n) {
    std::string name = "s";  // appended, not added: GCC 12 warns wrongly on "s" + std::string at -O3
    name += std::to_string(n);
    return name;
}

TEST_F(FileSecretStoreTest, StoresSharingTheFileLoseNoUpdates) {
    FileSecretStore first(path), second(path);
    std::vector<std::thread> writers;
    for (FileSecretStore* store : {&first, &second, &first, &second}) {
        const std::string service = serviceName(writers.size());
        writers.emplace_back([store, service] {
            for (int i = 0; i < 25; ++i) store->writeString(service, std::to_string(i), "v");
        });
    }
    for (auto& w : writers) w.join();
    for (std::size_t s = 0; s < 4; ++s) {
        for (int i = 0; i < 25; ++i) {
            EXPECT_EQ(first.read(serviceName(s), std::to_string(i)).status, SecretStatus::Found) << s << "/" << i;
        }
    }
}

// The bus's answer picks the store; only a keyring with a default collection
// gets libsecret, and every other answer leaves a warning naming the file.
TEST(SecretStoreFactory, OnlyAKeyringWithADefaultCollectionGetsLibsecret) {
    using Kind = hw::SecretServiceAnswer::Kind;
    TempDir dir;
    ::setenv("HAVENWAY_SECRETS_FILE", dir.file("secrets.json").c_str(), 1);
    struct Row {
        const char* forced;
        Kind answer;
        bool keyring;
        const char* warning;
    };
    const Row rows[] = {
        {nullptr, Kind::NoService, false, "no Secret Service (no bus)"},
        {nullptr, Kind::NoDefaultCollection, false, "no default collection"},
        {nullptr, Kind::Ready, true, nullptr},
        {"file", Kind::Ready, false, nullptr},
        {"secret-service", Kind::NoService, true, nullptr},
        {"libsecret", Kind::NoService, true, nullptr},
    };
    for (const Row& row : rows) {
        auto log = CaptureLog::install();
        if (row.forced) ::setenv("HAVENWAY_SECRET_STORE", row.forced, 1);
        else ::unsetenv("HAVENWAY_SECRET_STORE");
        int asked = 0;
        auto store = hw::makeSecretStore([&] {
            ++asked;
            return hw::SecretServiceAnswer{row.answer, "no bus"};
        });
        const bool keyring = dynamic_cast<hw::KeyringOverFileStore*>(store.get()) ||
                             dynamic_cast<hw::LibsecretSecretStore*>(store.get());
        EXPECT_EQ(keyring, row.keyring) << (row.forced ? row.forced : "asked");
        EXPECT_EQ(asked, row.forced ? 0 : 1) << "a forced choice asks no bus";
        if (auto* file = dynamic_cast<FileSecretStore*>(store.get())) {
            EXPECT_EQ(file->path(), dir.file("secrets.json"));
        }
        if (row.warning) {
            EXPECT_TRUE(log->contains(row.warning)) << row.warning;
            EXPECT_TRUE(log->contains(dir.file("secrets.json")));
        }
    }
    ::unsetenv("HAVENWAY_SECRET_STORE");
    ::unsetenv("HAVENWAY_SECRETS_FILE");
    hw::log::setSink(nullptr);
}

}  // namespace
