#pragma once
#include <QListView>
#include <QPointer>
#include <functional>

class QLabel;

namespace hw {

class LocationsTableViewModel;

// A locations table: no selection of its own (clicks and Up/Down ask the
// gate), double clicks, stars with a hand cursor, and frozen scrolling.
class LocationsTableWidget : public QListView {
    Q_OBJECT
public:
    explicit LocationsTableWidget(QWidget* parent = nullptr);

    std::function<void(int row)> onRowClicked;
    std::function<void(int row)> onRowDoubleClicked;
    std::function<void(int row)> onStarClicked;

    // Which rows Up/Down may land on.
    void setViewModel(const LocationsTableViewModel* viewModel) { viewModel_ = viewModel; }
    void setScrollingDisabled(bool disabled);
    bool scrollingDisabled() const { return scrollingDisabled_; }
    // The row the keyboard moves from: the selected one.
    void setKeyboardRow(int row) { keyboardRow_ = row; }
    void setModel(QAbstractItemModel* model) override;

    static constexpr int kMoveMs = 300;
    // The picture of a moved row on its way from its old place to its new
    // one; none when no move runs.
    QWidget* movingRow() const;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    bool onStar(const QPoint& point, int row) const;
    void rowAboutToMove(int row);
    void rowMoved(int row);

    const LocationsTableViewModel* viewModel_ = nullptr;
    bool scrollingDisabled_ = false;
    int keyboardRow_ = -1;
    QPixmap movingPicture_;
    QRect movingFrom_;
    QPointer<QLabel> moving_;
    QPointer<QWidget> cover_;
};

// Hands the table's clicks, double clicks and stars to a window's events
// (none while the window has no controller).
template <class Events>
void forwardTableEvents(LocationsTableWidget& table, Events* const& events) {
    table.onRowClicked = [&events](int row) {
        if (events) events->onTableRowClicked(row);
    };
    table.onRowDoubleClicked = [&events](int row) {
        if (events) events->doubleClickOnLocationsRow(row);
    };
    table.onStarClicked = [&events](int row) {
        if (events) events->onFavoriteButtonClick(row);
    };
}

}  // namespace hw
