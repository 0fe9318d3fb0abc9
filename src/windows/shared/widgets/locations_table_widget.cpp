#include "windows/shared/widgets/locations_table_widget.h"

#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPropertyAnimation>
#include <QScrollBar>

#include "view/kit_color.h"
#include "windows/shared/locations_table_view_model.h"
#include "windows/shared/widgets/location_row_delegate.h"

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

void LocationsTableWidget::setModel(QAbstractItemModel* model) {
    if (QAbstractItemModel* old = this->model()) disconnect(old, nullptr, this, nullptr);
    QListView::setModel(model);
    if (!model) return;
    connect(model, &QAbstractItemModel::rowsAboutToBeMoved, this,
            [this](const QModelIndex&, int start, int, const QModelIndex&, int) { rowAboutToMove(start); });
    connect(model, &QAbstractItemModel::rowsMoved, this, [this](const QModelIndex&, int start, int, const QModelIndex&, int to) {
        rowMoved(to > start ? to - 1 : to);
    });
}

QWidget* LocationsTableWidget::movingRow() const { return moving_.data(); }

void LocationsTableWidget::rowAboutToMove(int row) {
    movingFrom_ = visualRect(model()->index(row, 0));
    movingPicture_ = movingFrom_.isValid() ? viewport()->grab(movingFrom_) : QPixmap();
}

// The row is drawn travelling from its old place to its new one, so the eye
// follows it into (or out of) the favourites; the list itself has moved at once.
void LocationsTableWidget::rowMoved(int row) {
    delete moving_;
    delete cover_;
    if (movingPicture_.isNull()) return;
    executeDelayedItemsLayout();
    const QRect to = visualRect(model()->index(row, 0));
    if (!to.isValid()) return;
    // The row's new place stays blank until the picture arrives there.
    cover_ = new QWidget(viewport());
    cover_->setAutoFillBackground(true);
    QPalette palette = cover_->palette();
    palette.setColor(QPalette::Window, kitColor(LocationsTableViewModel::NORMAL_LOCATIONS_VIEW_ITEM_BACKGROUND));
    cover_->setPalette(palette);
    cover_->setGeometry(to);
    cover_->show();
    moving_ = new QLabel(viewport());
    moving_->setPixmap(movingPicture_);
    moving_->setGeometry(QRect(movingFrom_.topLeft(), movingPicture_.deviceIndependentSize().toSize()));
    moving_->setAttribute(Qt::WA_TransparentForMouseEvents);
    moving_->show();
    moving_->raise();
    auto* slide = new QPropertyAnimation(moving_, "pos", moving_);
    slide->setDuration(kMoveMs);
    slide->setEasingCurve(QEasingCurve::InOutQuad);
    slide->setEndValue(to.topLeft());
    connect(slide, &QAbstractAnimation::finished, this, [this] {
        if (moving_) moving_->deleteLater();
        if (cover_) cover_->deleteLater();
    });
    slide->start(QAbstractAnimation::DeleteWhenStopped);
    movingPicture_ = QPixmap();
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
    const int key = event->key();
    if (viewModel_ && (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) &&
        event->modifiers() == Qt::NoModifier) {
        // Return does what a double click does, Space what a click on the star does.
        event->accept();
        const int row = viewModel_->selectedRow().value_or(keyboardRow_);
        if (row < 0 || row >= model()->rowCount()) return;
        if (key != Qt::Key_Space) {
            if (onRowDoubleClicked) onRowDoubleClicked(row);
        } else if (viewModel_->starsEnabled() &&
                   viewModel_->kindOfRow(row) == LocationsTableViewModel::RowKind::location && onStarClicked) {
            onStarClicked(row);
        }
        return;
    }
    const int step = key == Qt::Key_Down ? 1 : key == Qt::Key_Up ? -1 : 0;
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
