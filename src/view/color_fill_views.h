#pragma once
#include <QColor>
#include <QWidget>

#include "view/kit_fades.h"

namespace hw {

// A view that fills itself with one colour.
class ColorFillView : public QWidget {
    Q_OBJECT
public:
    ColorFillView(const QColor& color, QWidget* parent);
    void setFillColor(const QColor& color);
    QColor fillColor() const { return color_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor color_;
};

// The login window's blue content view.
class CustomNSView : public ColorFillView {
    Q_OBJECT
public:
    explicit CustomNSView(QWidget* parent = nullptr);
};

// The blue cover shown while something loads.
class LoadingProgressOverlay : public ColorFillView {
    Q_OBJECT
public:
    explicit LoadingProgressOverlay(QWidget* parent = nullptr);
};

// The black cover over a locations list.
class OverlayForLocationsTable : public ColorFillView {
    Q_OBJECT
public:
    explicit OverlayForLocationsTable(QWidget* parent = nullptr);
};

// The black cover behind the update sheet: it fades to 40 % and takes every
// click while shown.
class AutoUpdateModalOverlay : public ColorFillView, public SpecificAlphaView {
    Q_OBJECT
public:
    explicit AutoUpdateModalOverlay(QWidget* parent = nullptr);
    double getSpecificAlpha() const override { return 0.4; }
};

// An onboarding page's background: fully transparent, so the page behind shows.
class OnBoardingPageItemBackgroundView : public QWidget {
    Q_OBJECT
public:
    explicit OnBoardingPageItemBackgroundView(QWidget* parent = nullptr);
};

}  // namespace hw
