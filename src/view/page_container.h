#pragma once
#include <QPointer>
#include <QWidget>
#include <cstddef>
#include <functional>
#include <map>

#include <QPropertyAnimation>

namespace hw {

// Pages side by side that slide horizontally: Next, a touchpad's horizontal
// scroll, or a drag past a third of the width. Every move, whoever starts
// it, is reported at its start and at its end.
class PageContainer final : public QWidget {
    Q_OBJECT
    Q_PROPERTY(double slideOffset READ slideOffset WRITE setSlideOffset)
public:
    static constexpr int kSlideMs = 300;

    explicit PageContainer(QWidget* parent = nullptr);
    ~PageContainer() override;

    // Makes the page at the index on first need; the container parents it.
    std::function<QWidget*(std::size_t index)> pageFactory;
    std::function<void()> onWillStartLiveTransition;
    std::function<void()> onDidEndLiveTransition;

    void setArrangedCount(std::size_t count);
    std::size_t arrangedCount() const { return count_; }
    std::size_t selectedIndex() const { return selected_; }
    // At once, without the slide.
    void setSelectedIndex(std::size_t index);
    void navigateForward();
    void navigateBack();
    // Settles on the page the move landed on, and shows it.
    void completeTransition();
    void setPageHidden(std::size_t index, bool hidden);
    bool isTransitioning() const { return animation_ != nullptr || dragging_; }
    QWidget* pageAt(std::size_t index);

    double slideOffset() const { return offset_; }
    void setSlideOffset(double offset);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void beginLive();
    void slideTo(std::size_t target);
    void place();

    std::size_t count_ = 0;
    std::size_t selected_ = 0;
    std::size_t target_ = 0;
    // Offset of the strip in pages from the selected one: +1 shows the next.
    double offset_ = 0.0;
    bool live_ = false;
    bool dragging_ = false;
    bool pressed_ = false;
    double pressX_ = 0.0;
    double wheelSum_ = 0.0;
    QPointer<QPropertyAnimation> animation_;
    std::map<std::size_t, QPointer<QWidget>> pages_;
    std::map<std::size_t, bool> hidden_;
};

}  // namespace hw
