#pragma once
#include <QPointer>
#include <QWidget>
#include <functional>
#include <vector>

namespace hw {

// A window that hides keeps its native window and backing store (an image
// the size of the window, shared with the X server) until it shows again,
// which for most (the welcome and login windows once signed in, Settings once
// closed) is long after or never. Those still hidden when release() runs give
// them back; Qt makes them anew when the window shows.
class HiddenWindowRelease {
public:
    // Windows that must keep theirs: the main one, to which the locations
    // window is tied as transient, and that one.
    using Keeps = std::function<bool(QWidget*)>;
    explicit HiddenWindowRelease(Keeps keeps = {}) : keeps_(std::move(keeps)) {}
    void setKeeps(Keeps keeps) { keeps_ = std::move(keeps); }

    void hidden(QWidget* window);
    void release();

private:
    Keeps keeps_;
    std::vector<QPointer<QWidget>> hidden_;
};

}  // namespace hw
