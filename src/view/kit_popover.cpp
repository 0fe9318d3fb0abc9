#include "view/kit_popover.h"

#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>

#include "view/kit_color.h"

namespace hw {

namespace {
constexpr int kGap = 6;
}

KitPopover::KitPopover(Kind kind, QWidget* owner)
    : QFrame(owner, (kind == Kind::Popover ? Qt::Popup : Qt::ToolTip) | Qt::FramelessWindowHint),
      background_(kitColor("#ffffff")),
      border_(kitColor("#d0d2d6")) {
    setAttribute(Qt::WA_DeleteOnClose, false);
    setLayout(new QVBoxLayout);
    layout()->setContentsMargins(12, 12, 12, 12);
}

void KitPopover::setContent(QWidget* content, int margin) {
    layout()->setContentsMargins(margin, margin, margin, margin);
    layout()->addWidget(content);
}

void KitPopover::setColors(const QColor& background, const QColor& border) {
    background_ = background;
    border_ = border;
    update();
}

QPoint KitPopover::placement(const QSize& size, const QRect& anchor, const QRect& screen, Edge preferred) {
    const int below = anchor.bottom() + 1 + kGap;
    const int above = anchor.top() - kGap - size.height();
    int y = preferred == Edge::Below ? below : above;
    if (preferred == Edge::Below && y + size.height() > screen.bottom() + 1 && above >= screen.top()) y = above;
    if (preferred == Edge::Above && y < screen.top() && below + size.height() <= screen.bottom() + 1) y = below;
    int x = anchor.x() + anchor.width() / 2 - size.width() / 2;
    x = std::clamp(x, screen.left(), std::max(screen.left(), screen.right() + 1 - size.width()));
    return {x, y};
}

void KitPopover::showRelativeTo(QWidget& owner, const QRect& anchor, Edge preferred) {
    adjustSize();
    const QRect globalAnchor(owner.mapToGlobal(anchor.topLeft()), anchor.size());
    const QScreen* screen = owner.screen();
    const QRect area = screen ? screen->availableGeometry() : QRect(QPoint(0, 0), QSize(1 << 16, 1 << 16));
    move(placement(size(), globalAnchor, area, preferred));
    show();
}

void KitPopover::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), background_);
    painter.setPen(border_);
    painter.drawRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
}

}  // namespace hw
