#pragma once
#include <QImage>
#include <QPointer>
#include <QVariantAnimation>
#include <QWidget>
#include <string>

namespace hw {

// An image that spins clockwise about its centre as a busy indicator: one
// turn every 0.7 s until stopped. While it is off the screen (hidden, or its
// window hidden) the turn pauses, so no animation timer runs for nothing.
class ActivityIndicatorWithImage : public QWidget {
    Q_OBJECT
public:
    explicit ActivityIndicatorWithImage(QWidget* parent = nullptr);
    ~ActivityIndicatorWithImage() override;

    void setImageName(const std::string& name);
    const std::string& imageName() const { return imageName_; }

    // Starts the turn again from 0.
    void startRotationAnimation();
    void stopRotationAnimation();
    bool isAnimating() const;
    // The current turn in Qt degrees (clockwise positive).
    double rotationDegrees() const { return degrees_; }

    QSize sizeHint() const override { return {32, 32}; }

protected:
    // Runs just before each start; subclasses fill it.
    virtual void additionalProcessing() {}
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    std::string imageName_;
    QImage drawn_;  // the image at the current size, drawn once, not every frame
    double degrees_ = 0;
    QPointer<QVariantAnimation> animation_;
};

// The spinner shown while a location's flag loads.
class FlagActivityIndicator : public ActivityIndicatorWithImage {
    Q_OBJECT
public:
    using ActivityIndicatorWithImage::ActivityIndicatorWithImage;

protected:
    // Falls back to the flag spinner's own image when the owner set none.
    void additionalProcessing() override;
};

}  // namespace hw
