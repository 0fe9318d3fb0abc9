#include "controllers/locations_table_widget.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>

#include "controllers/location_row_delegate.h"
#include "controllers/locations_table_view_model.h"

namespace hw {

LocationsTableWidget::LocationsTableWidget(QWidget* parent) : QListView(parent) {
    setSelectionMode(QAbstractItemView::NoSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setUniformItemSizes(false);
    setMouseTracking(true);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setFocusPolicy(Qt::StrongFocus);
    setItemDelegate(new LocationRowDelegate(this));
}

bool LocationsTableWidget::onStar(const QPoint& point, int row) const {
    if (!viewModel_ || viewModel_->kindOfRow(row) != LocationsTableViewModel::RowKind::location) return false;
    return LocationRowDelegate::starHitRect(visualRect(model()->index(row, 0))).contains(point);
}

void LocationsTableWidget::mousePressEvent(QMouseEvent* event) {
    // Taken here so that the list view makes no selection or current-row change of its own.
    setFocus(Qt::MouseFocusReason);
    event->accept();
}

void LocationsTableWidget::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    const auto index = indexAt(event->position().toPoint());
    if (!index.isValid()) return;
    const int row = index.row();
    if (onStar(event->position().toPoint(), row)) {
        if (onStarClicked) onStarClicked(row);
        return;
    }
    if (onRowClicked) onRowClicked(row);
}

void LocationsTableWidget::mouseDoubleClickEvent(QMouseEvent* event) {
    const auto index = indexAt(event->position().toPoint());
    const int row = index.isValid() ? index.row() : -1;
    if (row >= 0 && onStar(event->position().toPoint(), row)) return;
    if (onRowDoubleClicked) onRowDoubleClicked(row);
}

void LocationsTableWidget::mouseMoveEvent(QMouseEvent* event) {
    const auto index = indexAt(event->position().toPoint());
    const bool hand = index.isValid() && onStar(event->position().toPoint(), index.row()) && viewModel_ &&
                      viewModel_->starsEnabled();
    viewport()->setCursor(hand ? Qt::PointingHandCursor : Qt::ArrowCursor);
}

void LocationsTableWidget::keyPressEvent(QKeyEvent* event) {
    const int step = event->key() == Qt::Key_Down ? 1 : event->key() == Qt::Key_Up ? -1 : 0;
    if (step == 0 || !viewModel_) {
        QListView::keyPressEvent(event);
        return;
    }
    const int from = viewModel_->selectedRow().value_or(keyboardRow_);
    if (auto next = viewModel_->nextSelectableRow(from, step)) {
        keyboardRow_ = *next;
        if (onRowClicked) onRowClicked(*next);
        scrollTo(model()->index(*next, 0));
    }
    event->accept();
}

void LocationsTableWidget::wheelEvent(QWheelEvent* event) {
    if (scrollingDisabled_) {
        event->accept();
        return;
    }
    QListView::wheelEvent(event);
}

void LocationsTableWidget::setScrollingDisabled(bool disabled) {
    scrollingDisabled_ = disabled;
    verticalScrollBar()->setEnabled(!disabled);
}

}  // namespace hw
