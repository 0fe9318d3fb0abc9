#include "view/page_container.h"

#include <QMouseEvent>
#include <QPropertyAnimation>
#include <QWheelEvent>
#include <cmath>

namespace hw {
namespace {

// Pixels a finger or a touchpad moves before the pages follow it.
constexpr double kDragSlop = 6.0;

}  // namespace

PageContainer::PageContainer(QWidget* parent) : QWidget(parent) {}

PageContainer::~PageContainer() {
    if (animation_) animation_->stop();
}

QWidget* PageContainer::pageAt(std::size_t index) {
    if (index >= count_) return nullptr;
    auto& page = pages_[index];
    if (!page && pageFactory) {
        page = pageFactory(index);
        if (page) {
            page->setParent(this);
            page->lower();
        }
    }
    return page;
}

void PageContainer::setArrangedCount(std::size_t count) {
    count_ = count;
    selected_ = target_ = 0;
    offset_ = 0.0;
    place();
}

void PageContainer::setSelectedIndex(std::size_t index) {
    if (index >= count_) return;
    if (animation_) animation_->stop();
    selected_ = target_ = index;
    offset_ = 0.0;
    place();
}

void PageContainer::beginLive() {
    if (live_) return;
    live_ = true;
    if (onWillStartLiveTransition) onWillStartLiveTransition();
}

void PageContainer::navigateForward() {
    if (isTransitioning() || selected_ + 1 >= count_) return;
    beginLive();
    slideTo(selected_ + 1);
}

void PageContainer::navigateBack() {
    if (isTransitioning() || selected_ == 0) return;
    beginLive();
    slideTo(selected_ - 1);
}

void PageContainer::slideTo(std::size_t target) {
    target_ = target;
    auto* animation = new QPropertyAnimation(this, "slideOffset", this);
    animation->setDuration(kSlideMs);
    animation->setStartValue(offset_);
    animation->setEndValue(static_cast<double>(target) - static_cast<double>(selected_));
    animation->setEasingCurve(QEasingCurve::OutCubic);
    connect(animation, &QPropertyAnimation::finished, this, [this] {
        animation_ = nullptr;
        live_ = false;
        if (onDidEndLiveTransition) onDidEndLiveTransition();
        else completeTransition();
    });
    animation_ = animation;
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void PageContainer::completeTransition() {
    selected_ = target_;
    offset_ = 0.0;
    // The page a move lands on is shown, also one hidden when the move began.
    hidden_[selected_] = false;
    place();
}

void PageContainer::setPageHidden(std::size_t index, bool hidden) {
    hidden_[index] = hidden;
    place();
}

void PageContainer::setSlideOffset(double offset) {
    offset_ = offset;
    place();
}

void PageContainer::place() {
    const int w = width();
    for (auto& [index, page] : pages_) {
        if (page) page->hide();
    }
    if (count_ == 0) return;
    const double position = static_cast<double>(selected_) + offset_;
    const auto first = static_cast<std::size_t>(std::max(0.0, std::floor(position)));
    for (std::size_t i = first; i <= first + 1 && i < count_; ++i) {
        const double x = (static_cast<double>(i) - position) * w;
        if (std::abs(x) >= w) continue;
        QWidget* page = pageAt(i);
        if (!page) continue;
        page->setGeometry(static_cast<int>(std::lround(x)), 0, w, height());
        page->setVisible(!hidden_[i]);
    }
}

void PageContainer::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    place();
}

void PageContainer::wheelEvent(QWheelEvent* event) {
    const QPoint delta = event->pixelDelta().isNull() ? event->angleDelta() : event->pixelDelta();
    if (std::abs(delta.x()) <= std::abs(delta.y())) return QWidget::wheelEvent(event);
    event->accept();
    if (isTransitioning()) return;
    wheelSum_ += delta.x();
    // Content follows the fingers: a scroll to the left brings the next page.
    if (wheelSum_ <= -width() / 3.0) {
        wheelSum_ = 0;
        navigateForward();
    } else if (wheelSum_ >= width() / 3.0) {
        wheelSum_ = 0;
        navigateBack();
    }
}

void PageContainer::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || animation_) return QWidget::mousePressEvent(event);
    pressed_ = true;
    pressX_ = event->position().x();
}

void PageContainer::mouseMoveEvent(QMouseEvent* event) {
    if (!pressed_ || width() <= 0) return;
    const double dx = event->position().x() - pressX_;
    if (!dragging_ && std::abs(dx) < kDragSlop) return;
    if (!dragging_) {
        dragging_ = true;
        beginLive();
    }
    // No rubber band past the ends.
    double offset = -dx / width();
    if (selected_ == 0) offset = std::max(offset, 0.0);
    if (selected_ + 1 >= count_) offset = std::min(offset, 0.0);
    target_ = selected_;
    setSlideOffset(std::clamp(offset, -1.0, 1.0));
}

void PageContainer::mouseReleaseEvent(QMouseEvent* event) {
    if (!pressed_) return QWidget::mouseReleaseEvent(event);
    pressed_ = false;
    if (!dragging_) return;
    dragging_ = false;
    std::size_t target = selected_;
    if (offset_ > 1.0 / 3.0 && selected_ + 1 < count_) target = selected_ + 1;
    if (offset_ < -1.0 / 3.0 && selected_ > 0) target = selected_ - 1;
    slideTo(target);
}

}  // namespace hw
