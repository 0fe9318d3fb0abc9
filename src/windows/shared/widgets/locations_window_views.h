#pragma once
#include <QImage>
#include <QLabel>
#include <QWidget>
#include <functional>

class QPainter;

namespace hw {

// The rounded dark backing behind the locations window's search field.
class LocationsWindowSearchBarBackground : public QWidget {
    Q_OBJECT
public:
    static constexpr int kCornerRadius = 14;
    static constexpr char kFill[] = "#0e0e0e";
    explicit LocationsWindowSearchBarBackground(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// A flag inside a 30 px light ring, drawn only while there is an image.
class LocationItemFlagImage : public QWidget {
    Q_OBJECT
public:
    static constexpr int kRing = 30;
    static constexpr char kRingColor[] = "#e8e8e8";
    explicit LocationItemFlagImage(QWidget* parent = nullptr);
    void setImage(const QImage& image);
    const QImage& image() const { return image_; }
    QSize sizeHint() const override { return {kRing, kRing}; }
    // The ring with the image inside it; nothing at all without an image.
    // The list rows draw their flags with it too.
    static void drawFlag(QPainter& p, const QRectF& ring, const QImage& image);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage image_;
};

// The tooltip about the automatic location: a click anywhere on it runs its
// handler, when it has one.
class AutomaticLocationTooltipView : public QWidget {
    Q_OBJECT
public:
    explicit AutomaticLocationTooltipView(QWidget* parent = nullptr);
    std::function<void()> mouseDownHandler;
    void setText(const QString& text);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QLabel* text_;
};

// The tooltip's text: it never takes a click, so clicks reach the tooltip.
class AutomaticLocationTooltipTextView : public QLabel {
    Q_OBJECT
public:
    explicit AutomaticLocationTooltipTextView(QWidget* parent = nullptr);
};

}  // namespace hw
