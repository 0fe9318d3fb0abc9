#pragma once
#include <QWidget>
#include <string>
#include <vector>

#include "view/do_tabbar.h"

namespace hw {

// Draws a DOTabbar as a row of icon-over-title items, grouped, and forwards
// hover and clicks to it.
class DOTabbarView : public QWidget {
    Q_OBJECT
public:
    explicit DOTabbarView(QWidget* parent = nullptr);

    DOTabbar& tabbar() { return tabbar_; }

    // The item under the point, empty when none.
    std::string itemAt(const QPoint& point) const;
    QRect itemRect(const std::string& identifier) const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    struct Slot {
        std::string identifier;
        QRect rect;
    };
    std::vector<Slot> itemSlots() const;
    bool hasGroupTitles() const;

    DOTabbar tabbar_;
    std::string pressed_;
};

}  // namespace hw
