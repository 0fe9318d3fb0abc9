#include "view/top_bar/notification_bar_views.h"

#include <QPaintEvent>
#include <QPainter>

#include "texts/locale_data.h"
#include "view/keyboard_focus_ring.h"
#include "view/kit_color.h"

namespace hw {

FlatColorView::FlatColorView(const QColor& color, QWidget* parent) : QWidget(parent), color_(color) {}

void FlatColorView::setBackgroundColor(const QColor& color) {
    color_ = color;
    update();
}

void FlatColorView::paintEvent(QPaintEvent* event) {
    QPainter(this).fillRect(event->rect(), color_);
}

LinkedNotificationBar::LinkedNotificationBar(const QColor& fill, const QColor& linkColor, Qt::Alignment alignment,
                                             const std::string& linkText, QWidget* parent)
    : FlatColorView(fill, parent), linkButton_(new QPushButton(this)), linkColor_(linkColor), alignment_(alignment) {
    linkButton_->setFlat(true);
    linkButton_->setCursor(Qt::PointingHandCursor);
    // The button may be wider than its word: the ring goes round the word.
    setFocusRingHugsText(*linkButton_, (alignment & Qt::AlignHCenter) ? Qt::AlignHCenter : Qt::AlignLeft);
    updateLinkButtonLabel(linkText);
}

void LinkedNotificationBar::updateLinkButtonLabel(const std::string& text) {
    QFont font = linkButton_->font();
    font.setUnderline(true);
    linkButton_->setFont(font);
    linkButton_->setText(QString::fromStdString(text));
    const char* align = (alignment_ & Qt::AlignHCenter) ? "center" : "left";
    linkButton_->setStyleSheet(QStringLiteral("QPushButton { color: %1; border: none; background: transparent; "
                                              "text-align: %2; padding: 0; }")
                                   .arg(linkColor_.name(QColor::HexRgb), QString::fromLatin1(align)));
}

ErrorNotificationsBar::ErrorNotificationsBar(QWidget* parent)
    : LinkedNotificationBar(kitColor("#EF8F8F"), kitColor("#9B2626"), Qt::AlignLeft,
                            LocaleData::main_view_top_bar_notifications_pick_different_location_button(), parent) {}

UpgradeAvailableNotificationsBar::UpgradeAvailableNotificationsBar(QWidget* parent)
    : LinkedNotificationBar(kitColor("#B6E29C"), kitColor("#3A7045"), Qt::AlignHCenter,
                            LocaleData::main_view_top_bar_notifications_install_update_here_button(), parent) {}

MainViewTopNotificationArea::MainViewTopNotificationArea(QWidget* parent)
    : FlatColorView(kitColor("#e7f3fe"), parent), border_(kitColor("#999")) {}

void MainViewTopNotificationArea::applyBackgroundStyles(const QColor& background, const QColor& border) {
    border_ = border;
    setBackgroundColor(background);
}

ManViewErrorTopBar::ManViewErrorTopBar(QWidget* parent) : FlatColorView(kitColor("#FFF0F0"), parent) {}

LoadingViewBottomBarView::LoadingViewBottomBarView(QWidget* parent) : FlatColorView(kitColor("#efefef"), parent) {}

AutoReconnectOverlayView::AutoReconnectOverlayView(QWidget* parent) : FlatColorView(kitColor("#000000"), parent) {}

}  // namespace hw
