#include "view/do_tabbar_view.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <algorithm>
#include <QPainter>
#include <QPainterPath>

#include "view/kit_color.h"
#include "view/kit_fonts.h"
#include "view/kit_images.h"

namespace hw {

namespace {
constexpr int kItemWidth = 84;
constexpr int kItemHeight = 58;
constexpr int kGroupGap = 16;
constexpr int kTitleRow = 18;
constexpr int kSidePadding = 12;
}  // namespace

DOTabbarView::DOTabbarView(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    // Tab reaches the bar and the arrows pick the pane, as in a tab bar.
    setFocusPolicy(Qt::TabFocus);
    tabbar_.onChange = [this] {
        updateGeometry();
        update();
    };
}

bool DOTabbarView::hasGroupTitles() const {
    for (const auto& group : tabbar_.groups())
        if (group.title && !group.title->empty()) return true;
    return false;
}

std::vector<DOTabbarView::Slot> DOTabbarView::itemSlots() const {
    std::vector<Slot> all;
    const int top = hasGroupTitles() ? kTitleRow : 0;
    int content = 0;
    for (const auto& group : tabbar_.groups()) content += int(group.cells.size()) * kItemWidth + kGroupGap;
    content = std::max(0, content - kGroupGap);
    // Centred in the bar, as a toolbar's items are.
    int x = std::max(kSidePadding, (width() - content) / 2);
    for (const auto& group : tabbar_.groups()) {
        for (const auto& cell : group.cells) {
            all.push_back({cell.identifier(), QRect(x, top + 4, kItemWidth, kItemHeight)});
            x += kItemWidth;
        }
        x += kGroupGap;
    }
    return all;
}

QSize DOTabbarView::sizeHint() const {
    int content = 0;
    for (const auto& group : tabbar_.groups()) content += int(group.cells.size()) * kItemWidth + kGroupGap;
    content = std::max(0, content - kGroupGap);
    return {content + 2 * kSidePadding, (hasGroupTitles() ? kTitleRow : 0) + kItemHeight + 8};
}

std::string DOTabbarView::itemAt(const QPoint& point) const {
    for (const auto& slot : itemSlots())
        if (slot.rect.contains(point)) return slot.identifier;
    return {};
}

QRect DOTabbarView::itemRect(const std::string& identifier) const {
    for (const auto& slot : itemSlots())
        if (slot.identifier == identifier) return slot.rect;
    return {};
}

void DOTabbarView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(rect(), kitColor("#f4f4f5"));
    painter.setPen(kitColor("#d6d6d8"));
    painter.drawLine(QPointF(0, height() - 0.5), QPointF(width(), height() - 0.5));

    const auto all = itemSlots();
    std::size_t index = 0;
    int groupX = all.empty() ? kSidePadding : all.front().rect.x();
    for (const auto& group : tabbar_.groups()) {
        if (group.title && !group.title->empty()) {
            painter.setPen(kitColor("#8a8d90"));
            painter.setFont(latoFont(600, 11));
            painter.drawText(QRect(groupX, 2, int(group.cells.size()) * kItemWidth, kTitleRow - 2),
                             Qt::AlignHCenter | Qt::AlignVCenter, QString::fromStdString(*group.title));
        }
        for (const auto& cell : group.cells) {
            const QRect r = all[index++].rect;
            if (cell.selected || cell.hovered) {
                QPainterPath path;
                path.addRoundedRect(QRectF(r).adjusted(3, 1, -3, -1), 6, 6);
                painter.fillPath(path, kitColor(cell.selected ? "#e1e3e6" : "#eceef0"));
            }
            const QColor tint = kitColor(cell.selected ? "#15A9EA" : "#4b4e51");
            if (!cell.image().empty()) {
                const QImage icon = kitTemplateImage(cell.image(), tint, QSize(24, 24), devicePixelRatioF());
                painter.drawImage(QPointF(r.center().x() - 12 + 1, r.top() + 7), icon);
            }
            painter.setPen(tint);
            painter.setFont(latoFont(cell.selected ? 600 : 400, 12));
            painter.drawText(QRect(r.left(), r.top() + 34, r.width(), 20), Qt::AlignHCenter | Qt::AlignTop,
                             QString::fromStdString(cell.title()));
        }
        groupX += int(group.cells.size()) * kItemWidth + kGroupGap;
    }
}

void DOTabbarView::keyPressEvent(QKeyEvent* event) {
    const int step = event->key() == Qt::Key_Right ? 1 : event->key() == Qt::Key_Left ? -1 : 0;
    std::vector<std::string> items;
    long selected = -1;
    for (const auto& group : tabbar_.groups())
        for (const auto& cell : group.cells) {
            if (cell.selected) selected = long(items.size());
            items.push_back(cell.identifier());
        }
    if (step == 0 || items.empty()) {
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
    const long next = selected < 0 ? 0 : selected + step;
    if (next >= 0 && next < long(items.size()) && next != selected) tabbar_.clickItem(items[std::size_t(next)]);
}

void DOTabbarView::mouseMoveEvent(QMouseEvent* event) {
    const std::string item = itemAt(event->position().toPoint());
    tabbar_.setHoveredItem(item);
    if (item.empty()) unsetCursor(); else setCursor(Qt::PointingHandCursor);
    QWidget::mouseMoveEvent(event);
}

void DOTabbarView::leaveEvent(QEvent* event) {
    tabbar_.setHoveredItem({});
    QWidget::leaveEvent(event);
}

void DOTabbarView::mousePressEvent(QMouseEvent* event) {
    pressed_ = event->button() == Qt::LeftButton ? itemAt(event->position().toPoint()) : std::string();
    if (pressed_.empty()) QWidget::mousePressEvent(event);
}

void DOTabbarView::mouseReleaseEvent(QMouseEvent* event) {
    const std::string pressed = std::exchange(pressed_, {});
    if (pressed.empty() || itemAt(event->position().toPoint()) != pressed) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    tabbar_.clickItem(pressed);
}

}  // namespace hw
