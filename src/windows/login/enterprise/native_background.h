#pragma once
#include <QColor>

class QWidget;

namespace hw {

// Has the X server fill the widget's window with the colour wherever Qt has
// not drawn yet: a window holding the page waits for its GL composition
// before its first frame, and shows black until then otherwise. Kept across
// the native window being made again. Nothing on other platforms.
void fillNativeWindowWith(QWidget* window, const QColor& color);

}  // namespace hw
