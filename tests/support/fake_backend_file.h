#pragma once
#include <functional>
#include <optional>
#include <vector>

#include "core/application_model_ports.h"

namespace hw::test {

// A backend file whose data the test hands out: at once for getData(), or
// when the test calls finishFetch() for a background fetch.
class FakeBackendFile final : public BackendFile {
public:
    bool isDataAvailable() const override { return available; }
    std::optional<Bytes> getData() override {
        ++syncReads;
        return data;
    }
    void getDataInBackground(std::function<void(std::optional<Bytes>)> completion) override {
        fetches.push_back(std::move(completion));
    }
    // Completes the oldest fetch with `data` (nothing means an error).
    void finishFetch() {
        auto completion = std::move(fetches.front());
        fetches.erase(fetches.begin());
        completion(data);
    }

    bool available = false;
    std::optional<Bytes> data;
    int syncReads = 0;
    std::vector<std::function<void(std::optional<Bytes>)>> fetches;
};

}  // namespace hw::test
