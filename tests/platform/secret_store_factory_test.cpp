#include "platform/secret_store_factory.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/file_secret_store.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace hw::test {
namespace {

// The launch's store is chosen off the main thread; its first callers, from
// several threads at once, all reach the one store chosen, and it keeps what
// they wrote where that store keeps it.
TEST(BackgroundChosenSecretStore, ConcurrentFirstCallsShareTheChosenStore) {
    TempDir dir;
    ScopedEnv choice("HAVENWAY_SECRET_STORE", "file");
    ScopedEnv file("HAVENWAY_SECRETS_FILE", dir.file("secrets.json").c_str());
    {
        auto store = makeSecretStoreInBackground();
        std::vector<std::thread> callers;
        for (int i = 0; i < 8; ++i) {
            callers.emplace_back([&store, i] {
                EXPECT_TRUE(store->writeString("svc", "key" + std::to_string(i), "value" + std::to_string(i)));
            });
        }
        for (auto& t : callers) t.join();
        EXPECT_EQ(store->read("svc", "key3").text(), "value3");
    }
    FileSecretStore reread(dir.file("secrets.json"));
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(reread.read("svc", "key" + std::to_string(i)).text(), "value" + std::to_string(i)) << i;
    }
}

// The launch begins the choice once its first window is up, which may come
// after the first secret or never (a start that ends at once).
TEST(BackgroundChosenSecretStore, BeginsOnceWhicheverComesFirstAndEndsUnbegun) {
    TempDir dir;
    ScopedEnv choice("HAVENWAY_SECRET_STORE", "file");
    ScopedEnv file("HAVENWAY_SECRETS_FILE", dir.file("secrets.json").c_str());
    { auto never = makeSecretStoreInBackground(); }
    auto store = makeSecretStoreInBackground();
    EXPECT_TRUE(store->writeString("svc", "key", "before"));
    store->begin();
    store->begin();
    EXPECT_EQ(store->read("svc", "key").text(), "before");
    auto begunFirst = makeSecretStoreInBackground();
    begunFirst->begin();
    EXPECT_EQ(begunFirst->read("svc", "key").text(), "before");
}

}  // namespace
}  // namespace hw::test
