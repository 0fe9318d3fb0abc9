#pragma once
// Screenshot cases: each builds one state of the user interface; the runner
// shows it under a private X display and writes NAME.png.
#include <QWidget>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
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
        windows_.push_back(std::make_unique<W>(std::forward<Args>(args)...));
        return static_cast<W&>(*windows_.back());
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

using ShotBuild = std::function<void(ShotStage&)>;

struct ShotCase {
    std::string name;  // "area.state"
    bool needsTestbed = false;
    ShotBuild build;
};

std::vector<ShotCase>& shotCases();
inline bool addShot(std::string name, ShotBuild build, bool needsTestbed = false) {
    shotCases().push_back({std::move(name), needsTestbed, std::move(build)});
    return true;
}

// The checkout's testbed: build/testbed.env, two folders above this program
// (build/<flavour>/tests), wherever the runner was started from.
template <class Env>
std::optional<Env> checkoutTestbed() {
    if (auto env = Env::load()) return env;
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return std::nullopt;
    ::setenv("HAVENWAY_TESTBED_ENV", (self.parent_path().parent_path().parent_path() / "testbed.env").c_str(), 1);
    return Env::load();
}

}  // namespace hw::shots

#define HW_SHOT_CONCAT2(a, b) a##b
#define HW_SHOT_CONCAT(a, b) HW_SHOT_CONCAT2(a, b)
// HW_SHOT("area.state", [](ShotStage& stage) { ... } [, needsTestbed]);
#define HW_SHOT(...) [[maybe_unused]] static const bool HW_SHOT_CONCAT(shot_, __LINE__) = ::hw::shots::addShot(__VA_ARGS__)
// HW_SHOTS({ addShot(...) for each row of a table; })
#define HW_SHOTS(...) [[maybe_unused]] static const bool HW_SHOT_CONCAT(shots_, __LINE__) = [] { __VA_ARGS__ return true; }()
