#pragma once
#include <functional>
#include <utility>
#include <vector>

#include "view/alert_view.h"

namespace hw::test {

// Keeps each alert and its completion; the test answers it.
class RecordingAlertView final : public AlertView {
public:
    struct Shown {
        AlertRequest request;
        std::function<void(int)> completion;
    };
    std::vector<Shown> shown;

    void presentAlert(const AlertRequest& request, std::function<void(int)> completion) override {
        shown.push_back({request, std::move(completion)});
    }

    // Answers the oldest alert still open, as if its button n (0-based) was pressed.
    bool answer(int buttonIndex = 0) {
        for (auto& alert : shown) {
            if (auto done = std::exchange(alert.completion, nullptr)) {
                done(1000 + buttonIndex);
                return true;
            }
        }
        return false;
    }
};

}  // namespace hw::test
