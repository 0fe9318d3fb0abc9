#pragma once
#include <future>
#include <string>

#include "support/fake_secret_store.h"

namespace hw::test {

// A keyring whose every call waits until the test lets it answer.
struct GatedSecretStore final : SecretStore {
    SecretRead read(const std::string& s, const std::string& k) override {
        opened.wait();
        return items.read(s, k);
    }
    bool write(const std::string& s, const std::string& k, const Bytes& d) override {
        opened.wait();
        return items.write(s, k, d);
    }
    bool remove(const std::string& s, const std::string& k) override {
        opened.wait();
        return items.remove(s, k);
    }
    std::string lastFailure() const override { return "org.freedesktop.DBus.Error.AccessDenied: not today"; }
    FakeSecretStore items;
    std::shared_future<void> opened;
};

}  // namespace hw::test
