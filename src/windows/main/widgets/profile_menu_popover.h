#pragma once
#include <QWidget>
#include <functional>
#include <vector>

#include "windows/main/profile_menu_table_view_controller.h"

namespace hw {

// The profile popover: a frameless popup in "#292b2d" with one row per
// command; the row under the pointer lights up and a click reports it.
class ProfileMenuPopover : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 200;

    explicit ProfileMenuPopover(QWidget* parent = nullptr);

    std::function<void(int row)> onRowClicked;

    void setRows(const std::vector<ProfileMenuTableItemModel>& rows, double height);
    // "#RRGGBB" per row; the pointer's row is lit over it.
    void setRowBackgrounds(const std::vector<std::string>& colours);
    // Below the anchor, centred on it, inside the anchor's screen.
    void showBelow(const QWidget& anchor);
    // The row the pointer or the arrows mark; -1 when none.
    int highlightedRow() const { return hovered_; }
    QRect rowRect(int row) const;
    int rowCount() const { return static_cast<int>(rows_.size()); }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    int rowAt(const QPoint& point) const;

    std::vector<ProfileMenuTableItemModel> rows_;
    std::vector<std::string> backgrounds_;
    int hovered_ = -1;
};

}  // namespace hw
