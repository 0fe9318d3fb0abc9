#pragma once
// What every secret store must do; each store's own test runs it. `open` makes
// another store over the same items, as after a restart.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "platform/secret_store.h"
#include "support/capture_log.h"

namespace hw::test {

inline void expectSecretStoreContract(const std::function<std::unique_ptr<SecretStore>()>& open) {
    auto log = CaptureLog::install();
    const Bytes binary{0x00, 0xff, 0x00, 0x80, 0x7f};
    auto store = open();
    EXPECT_EQ(store->read("svc", "password").status, SecretStatus::Absent);
    ASSERT_TRUE(store->writeString("svc", "password", "hunter2-first"));
    ASSERT_TRUE(store->writeString("svc", "password", "hunter2-second"));
    ASSERT_TRUE(store->write("svc", "blob", binary));
    ASSERT_TRUE(store->write("svc", "empty", Bytes{}));
    ASSERT_TRUE(store->writeString("other", "password", "elsewhere"));

    auto again = open();
    EXPECT_EQ(again->read("svc", "password").text(), "hunter2-second");
    EXPECT_EQ(again->read("svc", "blob").data, binary);
    EXPECT_EQ(again->read("svc", "empty").status, SecretStatus::Found);
    EXPECT_EQ(again->read("svc", "missing").status, SecretStatus::Absent);

    EXPECT_TRUE(again->remove("svc", "password"));
    EXPECT_FALSE(again->remove("svc", "password"));
    EXPECT_EQ(open()->read("svc", "password").status, SecretStatus::Absent);
    EXPECT_EQ(open()->read("other", "password").text(), "elsewhere");

    EXPECT_FALSE(store->writeString("svc\xff", "k", "v")) << "names must survive the store unchanged";
    EXPECT_FALSE(log->contains("hunter2"));
    EXPECT_FALSE(log->contains("elsewhere"));
    log::setSink(nullptr);
}

}  // namespace hw::test
