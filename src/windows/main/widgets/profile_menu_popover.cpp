#include "windows/main/widgets/profile_menu_popover.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>

#include "view/kit_color.h"
#include "view/kit_fonts.h"
#include "view/kit_images.h"

namespace hw {

namespace {
constexpr int kInset = 2;
constexpr int kGap = 4;
}  // namespace

ProfileMenuPopover::ProfileMenuPopover(QWidget* parent) : QWidget(parent, Qt::Popup | Qt::FramelessWindowHint) {
    setMouseTracking(true);
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_DeleteOnClose, false);
}

void ProfileMenuPopover::setRows(const std::vector<ProfileMenuTableItemModel>& rows, double height) {
    rows_ = rows;
    hovered_ = -1;
    setFixedSize(kWidth, static_cast<int>(height));
    update();
}

void ProfileMenuPopover::setRowBackgrounds(const std::vector<std::string>& colours) {
    backgrounds_ = colours;
    // A click closes the menu at once: the clicked row's colour must reach the screen first.
    if (isVisible()) repaint();
}

QRect ProfileMenuPopover::rowRect(int row) const {
    const int h = static_cast<int>(ProfileMenuTableViewController::kRowHeight);
    return {kInset, kInset + row * h, width() - 2 * kInset, h};
}

int ProfileMenuPopover::rowAt(const QPoint& point) const {
    for (int i = 0; i < rowCount(); ++i) {
        if (rowRect(i).contains(point)) return i;
    }
    return -1;
}

void ProfileMenuPopover::showBelow(const QWidget& anchor) {
    const QPoint bottom = anchor.mapToGlobal(QPoint(anchor.width() / 2, anchor.height()));
    QPoint origin(bottom.x() - width() / 2, bottom.y() + kGap);
    // Kept over its window where it fits, so that it reads as the window's menu.
    if (const QWidget* window = anchor.window()) {
        const QRect frame = window->geometry();
        origin.setX(std::min(origin.x(), frame.right() - kGap - width()));
    }
    if (const QScreen* screen = anchor.screen()) {
        const QRect area = screen->availableGeometry();
        origin.setX(std::clamp(origin.x(), area.left(), std::max(area.left(), area.right() - width())));
    }
    move(origin);
    show();
}

void ProfileMenuPopover::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(rect(), kitColor("#292b2d"));
    // A hairline keeps the menu apart from the dark window behind it.
    p.setPen(kitColor("#45484c"));
    p.drawRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
    p.setFont(kitFont("Lato-Semibold", 13));
    for (int i = 0; i < rowCount(); ++i) {
        const QRect r = rowRect(i);
        const auto index = static_cast<std::size_t>(i);
        p.fillRect(r, kitColor(index < backgrounds_.size()
                                   ? backgrounds_[index].c_str()
                                   : ProfileMenuTableViewController::NORMAL_LOCATIONS_VIEW_ITEM_BACKGROUND));
        if (i == hovered_) p.fillRect(r, kitColor(ProfileMenuTableViewController::HIGHLIGHT_BACKGROUND));
        const QRect icon(r.left() + 14, r.top() + (r.height() - 18) / 2, 18, 18);
        drawKitImage(p, rows_[static_cast<std::size_t>(i)].icon, icon);
        p.setPen(kitColor("#FFFFFF"));
        const QRect text(icon.right() + 12, r.top(), r.right() - icon.right() - 20, r.height());
        p.drawText(text, Qt::AlignVCenter | Qt::AlignLeft,
                   p.fontMetrics().elidedText(QString::fromStdString(rows_[static_cast<std::size_t>(i)].header),
                                              Qt::ElideRight, text.width()));
    }
}

// As a menu: the arrows mark a row (from the first or the last), Return,
// Enter or Space choose it; Escape closes the menu as a popup does.
void ProfileMenuPopover::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    const int count = rowCount();
    if ((key == Qt::Key_Down || key == Qt::Key_Up) && count > 0) {
        const int step = key == Qt::Key_Down ? 1 : -1;
        hovered_ = hovered_ < 0 ? (step > 0 ? 0 : count - 1) : (hovered_ + step + count) % count;
        update();
        event->accept();
        return;
    }
    if ((key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) && hovered_ >= 0) {
        event->accept();
        if (onRowClicked) onRowClicked(hovered_);
        return;
    }
    QWidget::keyPressEvent(event);
}

void ProfileMenuPopover::mouseMoveEvent(QMouseEvent* event) {
    const int row = rowAt(event->position().toPoint());
    if (row == hovered_) return;
    hovered_ = row;
    update();
}

void ProfileMenuPopover::leaveEvent(QEvent*) {
    if (hovered_ < 0) return;
    hovered_ = -1;
    update();
}

void ProfileMenuPopover::mouseReleaseEvent(QMouseEvent* event) {
    if (!rect().contains(event->position().toPoint())) {
        close();
        return;
    }
    const int row = rowAt(event->position().toPoint());
    if (row >= 0 && onRowClicked) onRowClicked(row);
}

}  // namespace hw
