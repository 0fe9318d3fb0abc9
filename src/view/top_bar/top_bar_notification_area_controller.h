#pragma once
#include <QLabel>
#include <QPointer>
#include <QRect>
#include <QWidget>
#include <optional>
#include <string>

class QAbstractAnimation;

namespace hw {

// A two-line error bar that slides down into its place from 87 px above and
// back up, fading, when dismissed. Its frames are taken once its view is laid
// out (calculateFrames).
class TopBarNotificationAreaController {
public:
    static constexpr int kStartOffset = 87;
    static constexpr int kHideMs = 500;
    static constexpr int kShowMs = 250;

    TopBarNotificationAreaController(QWidget& view, QLabel& upper, QLabel& lower);

    void calculateFrames();
    void showErrorNotification(const std::string& upper, const std::string& lower);
    void hideErrorNotificationBar() { animateBarHiding(); }
    void animateBarShowing(bool skipAnimation);
    void animateBarHiding();

    const std::optional<QRect>& startFrame() const { return startFrame_; }
    const std::optional<QRect>& endFrame() const { return endFrame_; }

private:
    QWidget& view_;
    QLabel& upper_;
    QLabel& lower_;
    std::optional<QRect> startFrame_;
    std::optional<QRect> endFrame_;
    QPointer<QAbstractAnimation> running_;
};

}  // namespace hw
