#pragma once
#include <functional>

class QWidget;

namespace hw {

// A view that fades to its own opacity rather than to fully opaque.
class SpecificAlphaView {
public:
    virtual ~SpecificAlphaView() = default;
    virtual bool useSpecificAlpha() const { return true; }
    virtual double getSpecificAlpha() const = 0;
};

// Shows the view at opacity 0 and animates it to 1 (or its specific alpha)
// over the seconds given (1.0 when not above 0), then runs the completion.
void fadeInWithDuration(QWidget& view, double seconds, std::function<void()> completion = nullptr);

// Animates the view to opacity 0, hides it (a transparent widget would still
// take clicks), then runs the completion.
void fadeOutWithDuration(QWidget& view, double seconds, std::function<void()> completion = nullptr);

// The opacity the fades give the view now (1 when it has none of its own).
double viewOpacity(const QWidget& view);

}  // namespace hw
