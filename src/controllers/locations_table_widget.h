#pragma once
#include <QListView>
#include <functional>

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

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    bool onStar(const QPoint& point, int row) const;

    const LocationsTableViewModel* viewModel_ = nullptr;
    bool scrollingDisabled_ = false;
    int keyboardRow_ = -1;
};

}  // namespace hw
