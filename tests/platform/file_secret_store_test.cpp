#include "platform/file_secret_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <thread>

#include "platform/secret_service_store.h"
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

TEST(SecretStoreFactory, FallsBackToTheFileWithAWarningWhenNoServiceAnswers) {
    TempDir dir;
    auto log = CaptureLog::install();
    const std::string bus = "unix:path=" + dir.file("no-bus-here");
    ::setenv("DBUS_SESSION_BUS_ADDRESS", bus.c_str(), 1);
    ::setenv("HAVENWAY_SECRETS_FILE", dir.file("secrets.json").c_str(), 1);
    ::unsetenv("HAVENWAY_SECRET_STORE");

    auto store = hw::makeSecretStore();
    auto* file = dynamic_cast<FileSecretStore*>(store.get());
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->path(), dir.file("secrets.json"));
    EXPECT_EQ(log->countAtLeast(hw::LogLevel::Warning), 1u);

    for (const char* name : {"secret-service", "libsecret"}) {
        ::setenv("HAVENWAY_SECRET_STORE", name, 1);
        EXPECT_NE(dynamic_cast<hw::SecretServiceStore*>(hw::makeSecretStore().get()), nullptr) << name;
    }
    ::setenv("HAVENWAY_SECRET_STORE", "file", 1);
    EXPECT_NE(dynamic_cast<FileSecretStore*>(hw::makeSecretStore().get()), nullptr);

    ::unsetenv("HAVENWAY_SECRET_STORE");
    ::unsetenv("HAVENWAY_SECRETS_FILE");
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    hw::log::setSink(nullptr);
}

}  // namespace
