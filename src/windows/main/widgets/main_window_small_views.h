#pragma once
#include <QImage>
#include <QWidget>
#include <functional>

class QVariantAnimation;

namespace hw {

// Plain strips the main window and the details pane lay out their buttons on.
class MainViewTopBar : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;
};

class MainViewBottomBar : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;
};

// Dark backing of the locations column; a click goes to the handler when one is set.
class LocationsMainViewContainer : public QWidget {
    Q_OBJECT
public:
    explicit LocationsMainViewContainer(QWidget* parent = nullptr);
    std::function<void()> mouseDownHandler;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
};

class NoInternetConnectionOverlayView : public QWidget {
    Q_OBJECT
public:
    explicit NoInternetConnectionOverlayView(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The chosen location's flag on the map, with a hand cursor. Clicks go to
// one handler shared by every flag view.
class MainViewFlagImage : public QWidget {
    Q_OBJECT
public:
    static inline std::function<void()> mouseDownHandler;

    explicit MainViewFlagImage(QWidget* parent = nullptr);
    void setImage(const QImage& image);
    const QImage& image() const { return image_; }
    // The 0.2 s pop-in, scaled about the flag's centre.
    void animateAppearing();
    void animateDisappearing();
    double scale() const { return scale_; }
    void restoreCursor();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void runScale(double from, double to);

    QImage image_;
    double scale_ = 1.0;
    QVariantAnimation* animation_ = nullptr;
};

// A ring that spins around the flag while a connection is on its way.
class FlagLoadingRing : public QWidget {
    Q_OBJECT
public:
    explicit FlagLoadingRing(QWidget* parent = nullptr);
    void startRotationAnimation();
    void stopRotationAnimation();
    bool isSpinning() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double angle_ = 0;
    QVariantAnimation* spin_ = nullptr;
};

}  // namespace hw
