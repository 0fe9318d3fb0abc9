#include "view/top_bar/top_bar_notification_area_controller.h"

#include <QGraphicsOpacityEffect>
#include <QParallelAnimationGroup>
#include <QPropertyAnimation>

#include "platform/log.h"

namespace hw {

namespace {
QGraphicsOpacityEffect* opacityOf(QWidget& view) {
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(view.graphicsEffect());
    if (!effect) {
        effect = new QGraphicsOpacityEffect(&view);
        view.setGraphicsEffect(effect);
    }
    return effect;
}
}  // namespace

TopBarNotificationAreaController::TopBarNotificationAreaController(QWidget& view, QLabel& upper, QLabel& lower)
    : view_(view), upper_(upper), lower_(lower) {
    upper_.setTextFormat(Qt::PlainText);
    lower_.setTextFormat(Qt::PlainText);
}

void TopBarNotificationAreaController::calculateFrames() {
    endFrame_ = view_.geometry();
    startFrame_ = endFrame_->translated(0, -kStartOffset);
}

void TopBarNotificationAreaController::showErrorNotification(const std::string& upper, const std::string& lower) {
    upper_.setText(QString::fromStdString(upper));
    lower_.setText(QString::fromStdString(lower));
    animateBarShowing(false);
}

void TopBarNotificationAreaController::animateBarShowing(bool skipAnimation) {
    log::debug("TopBarNotificationAreaController",
               std::string("animateBarShowing() started -- skipAnimation: ") + (skipAnimation ? "true" : "false"));
    // A show stops a hide still running, so its end cannot hide this bar.
    if (running_) running_->stop();
    view_.show();
    view_.raise();
    if (skipAnimation || !startFrame_ || !endFrame_) return;
    view_.setGeometry(*startFrame_);
    opacityOf(view_)->setOpacity(1.0);
    auto* slide = new QPropertyAnimation(&view_, "geometry", &view_);
    slide->setDuration(kShowMs);
    slide->setStartValue(*startFrame_);
    slide->setEndValue(*endFrame_);
    running_ = slide;
    slide->start(QAbstractAnimation::DeleteWhenStopped);
}

void TopBarNotificationAreaController::animateBarHiding() {
    if (view_.isHidden() || !startFrame_) return;
    if (running_) running_->stop();
    auto* group = new QParallelAnimationGroup(&view_);
    auto* slide = new QPropertyAnimation(&view_, "geometry", group);
    slide->setDuration(kHideMs);
    slide->setEndValue(*startFrame_);
    auto* fade = new QPropertyAnimation(opacityOf(view_), "opacity", group);
    fade->setDuration(kHideMs);
    fade->setEndValue(0.0);
    group->addAnimation(slide);
    group->addAnimation(fade);
    QObject::connect(group, &QAbstractAnimation::finished, &view_, [this] { view_.hide(); });
    running_ = group;
    group->start(QAbstractAnimation::DeleteWhenStopped);
}

}  // namespace hw
