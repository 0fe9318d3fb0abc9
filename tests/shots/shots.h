#pragma once
// Screenshot cases: each builds one state of the user interface; the runner
// shows it under a private X display and writes NAME.png.
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace hw::shots {

// What a case builds lives here until its picture is taken.
class ShotStage {
public:
    ~ShotStage();

    // Keeps a top-level widget (a window) for the length of the shot.
    template <class W, class... Args>
    W& window(Args&&... args) {
        auto owned = std::make_unique<W>(std::forward<Args>(args)...);
        W& ref = *owned;
        windows_.push_back(std::move(owned));
        return ref;
    }
    // Runs after the windows are on screen, before the picture (popovers, sheets).
    void afterShown(std::function<void()> step) { afterShown_.push_back(std::move(step)); }
    // Moves the kit's animations on by this much virtual time before the picture.
    void advanceAnimations(int ms) { animationMs_ += ms; }

    const std::vector<std::function<void()>>& afterShownSteps() const { return afterShown_; }
    int animationMs() const { return animationMs_; }

private:
    std::vector<std::unique_ptr<QWidget>> windows_;
    std::vector<std::function<void()>> afterShown_;
    int animationMs_ = 0;
};

struct ShotCase {
    std::string name;  // "area.state"
    bool needsTestbed = false;
    std::function<void(ShotStage&)> build;
};

std::vector<ShotCase>& shotCases();

struct ShotRegistrar {
    ShotRegistrar(std::string name, std::function<void(ShotStage&)> build, bool needsTestbed = false) {
        shotCases().push_back({std::move(name), needsTestbed, std::move(build)});
    }
};

}  // namespace hw::shots

#define HW_SHOT_CONCAT2(a, b) a##b
#define HW_SHOT_CONCAT(a, b) HW_SHOT_CONCAT2(a, b)
// HW_SHOT("area.state", [](ShotStage& stage) { ... });
#define HW_SHOT(...) static const ::hw::shots::ShotRegistrar HW_SHOT_CONCAT(shotRegistrar_, __LINE__)(__VA_ARGS__)
