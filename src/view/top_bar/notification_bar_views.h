#pragma once
#include <QColor>
#include <QPushButton>
#include <QWidget>
#include <string>

namespace hw {

// A view that fills only the rectangle being redrawn with one colour, after
// (or, for the overlay, before) its base drawing.
class FlatColorView : public QWidget {
    Q_OBJECT
public:
    explicit FlatColorView(const QColor& color, QWidget* parent = nullptr);
    const QColor& backgroundColor() const { return color_; }
    void setBackgroundColor(const QColor& color);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor color_;
};

// A bar with a link button whose title is built once: the bar's link
// colour, its alignment, the button's font, underlined.
class LinkedNotificationBar : public FlatColorView {
    Q_OBJECT
public:
    LinkedNotificationBar(const QColor& fill, const QColor& linkColor, Qt::Alignment alignment,
                          const std::string& linkText, QWidget* parent = nullptr);
    QPushButton* linkButton() const { return linkButton_; }
    void updateLinkButtonLabel(const std::string& text);
    const QColor& linkColor() const { return linkColor_; }
    Qt::Alignment linkAlignment() const { return alignment_; }

private:
    QPushButton* linkButton_;
    QColor linkColor_;
    Qt::Alignment alignment_;
};

// The connection error bar: "#EF8F8F", its link left-aligned in "#9B2626".
class ErrorNotificationsBar final : public LinkedNotificationBar {
    Q_OBJECT
public:
    explicit ErrorNotificationsBar(QWidget* parent = nullptr);
};

// The new-release bar: "#B6E29C", its link "here" centred in "#3A7045".
class UpgradeAvailableNotificationsBar final : public LinkedNotificationBar {
    Q_OBJECT
public:
    explicit UpgradeAvailableNotificationsBar(QWidget* parent = nullptr);
};

// The server-message bar; the border colour is kept but never painted.
class MainViewTopNotificationArea final : public FlatColorView {
    Q_OBJECT
public:
    explicit MainViewTopNotificationArea(QWidget* parent = nullptr);
    void applyBackgroundStyles(const QColor& background, const QColor& border);
    const QColor& backgroundBorderColor() const { return border_; }
    double borderLineWidth() const { return 4.0; }

private:
    QColor border_;
};

class ManViewErrorTopBar final : public FlatColorView {
    Q_OBJECT
public:
    explicit ManViewErrorTopBar(QWidget* parent = nullptr);
};

class LoadingViewBottomBarView final : public FlatColorView {
    Q_OBJECT
public:
    explicit LoadingViewBottomBarView(QWidget* parent = nullptr);
};

// Opaque black behind the reconnect message; it fills before its children draw.
class AutoReconnectOverlayView final : public FlatColorView {
    Q_OBJECT
public:
    explicit AutoReconnectOverlayView(QWidget* parent = nullptr);
};

}  // namespace hw
