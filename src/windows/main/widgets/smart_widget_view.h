#pragma once
#include <QColor>
#include <QWidget>
#include <functional>

#include "windows/shared/widgets/elided_label.h"

class QLabel;
class QPushButton;

namespace hw {

class FlagLoadingRing;

// The information widget's tile: icon, title, a subtitle on two lines and a
// "Read more" link. A click anywhere runs the handler.
class SmartWidgetView : public QWidget {
    Q_OBJECT
public:
    static constexpr char kLinkColor[] = "#3e88ff";

    explicit SmartWidgetView(QWidget* parent = nullptr);

    QColor backgroundColor;
    std::function<void()> mouseDownHandler;

    void updateLinkButtonLabel(const QString& text);
    void setLoading(bool loading);
    void setIcon(const QImage& icon);

    QLabel* icon() const { return icon_; }
    ElidedLabel* title() const { return title_; }
    ElidedLabel* subtitle() const { return subtitle_; }
    ElidedLabel* subtitleSecondLine() const { return subtitleSecondLine_; }
    QPushButton* linkButton() const { return linkButton_; }
    FlagLoadingRing* loadingIndicator() const { return loading_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QLabel* icon_;
    ElidedLabel* title_;
    ElidedLabel* subtitle_;
    ElidedLabel* subtitleSecondLine_;
    QPushButton* linkButton_;
    FlagLoadingRing* loading_;
};

}  // namespace hw
