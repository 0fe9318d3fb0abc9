#include "view/activity_indicator_with_image.h"

#include <QPainter>

#include "view/kit_geometry.h"
#include "view/kit_images.h"

namespace hw {

namespace {
constexpr int kTurnMs = 700;
constexpr int kTurns = 99999;
constexpr double kTurnRadians = -6.283185307179586;  // one full turn clockwise
}  // namespace

ActivityIndicatorWithImage::ActivityIndicatorWithImage(QWidget* parent) : QWidget(parent) {}

ActivityIndicatorWithImage::~ActivityIndicatorWithImage() {
    if (animation_) animation_->stop();
}

void ActivityIndicatorWithImage::setImageName(const std::string& name) {
    imageName_ = name;
    drawn_ = QImage();
    update();
}

void ActivityIndicatorWithImage::startRotationAnimation() {
    additionalProcessing();
    if (animation_) {
        animation_->stop();
        delete animation_.data();
    }
    auto* animation = new QVariantAnimation(this);
    animation->setStartValue(0.0);
    animation->setEndValue(rotationDegreesFromRadians(kTurnRadians));
    animation->setDuration(kTurnMs);
    animation->setLoopCount(kTurns);
    connect(animation, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        degrees_ = value.toDouble();
        update();
    });
    animation_ = animation;
    degrees_ = 0;
    animation->start();
    if (!isVisible()) animation->pause();
    update();
}

void ActivityIndicatorWithImage::stopRotationAnimation() {
    if (!animation_) return;
    animation_->stop();
    delete animation_.data();
    degrees_ = 0;
    update();
}

void ActivityIndicatorWithImage::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (animation_ && animation_->state() == QAbstractAnimation::Paused) animation_->resume();
}

void ActivityIndicatorWithImage::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (animation_ && animation_->state() == QAbstractAnimation::Running) animation_->pause();
}

bool ActivityIndicatorWithImage::isAnimating() const {
    return animation_ && animation_->state() == QAbstractAnimation::Running;
}

void ActivityIndicatorWithImage::paintEvent(QPaintEvent*) {
    if (imageName_.empty()) return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const int side = std::min(width(), height());
    if (drawn_.isNull() || drawn_.deviceIndependentSize().toSize() != QSize(side, side))
        drawn_ = kitImage(imageName_, QSize(side, side), devicePixelRatioF());
    painter.translate(QRectF(rect()).center());
    painter.rotate(degrees_);
    painter.drawImage(QPointF(-side / 2.0, -side / 2.0), drawn_);
}

void FlagActivityIndicator::additionalProcessing() {
    if (imageName().empty()) setImageName("Flag_spinner");
}

}  // namespace hw
