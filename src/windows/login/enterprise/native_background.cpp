#include "windows/login/enterprise/native_background.h"

#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <memory>

#include <QEvent>
#include <QGuiApplication>
#include <QWidget>

namespace hw {
namespace {

template <class T>
using Reply = std::unique_ptr<T, decltype(&std::free)>;

// The colour as a pixel of the visual, from its channel masks.
std::uint32_t pixelOf(const xcb_visualtype_t& visual, std::uint8_t depth, const QColor& color) {
    auto channel = [](std::uint32_t mask, int value) -> std::uint32_t {
        if (!mask) return 0;
        const int shift = __builtin_ctz(mask);
        const std::uint32_t top = mask >> shift;
        return ((std::uint32_t(value) * top + 127) / 255) << shift;
    };
    std::uint32_t pixel = channel(visual.red_mask, color.red()) | channel(visual.green_mask, color.green()) |
                          channel(visual.blue_mask, color.blue());
    if (depth == 32) pixel |= ~(visual.red_mask | visual.green_mask | visual.blue_mask);  // opaque
    return pixel;
}

void apply(xcb_connection_t* c, xcb_window_t window, const QColor& color) {
    Reply<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr), &std::free);
    Reply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr),
                                             &std::free);
    if (!attributes || !geometry) return;
    for (auto screens = xcb_setup_roots_iterator(xcb_get_setup(c)); screens.rem; xcb_screen_next(&screens)) {
        for (auto depths = xcb_screen_allowed_depths_iterator(screens.data); depths.rem; xcb_depth_next(&depths)) {
            if (depths.data->depth != geometry->depth) continue;
            for (auto visuals = xcb_depth_visuals_iterator(depths.data); visuals.rem; xcb_visualtype_next(&visuals)) {
                if (visuals.data->visual_id != attributes->visual) continue;
                if (visuals.data->_class != XCB_VISUAL_CLASS_TRUE_COLOR) return;
                const std::uint32_t pixel = pixelOf(*visuals.data, geometry->depth, color);
                xcb_change_window_attributes(c, window, XCB_CW_BACK_PIXEL, &pixel);
                xcb_flush(c);
                return;
            }
        }
    }
}

class NativeBackground final : public QObject {
public:
    static constexpr char kName[] = "havenway-native-background";
    NativeBackground(QWidget* window, const QColor& color) : QObject(window), color_(color) {
        setObjectName(QLatin1String(kName));
        window->installEventFilter(this);
        if (window->testAttribute(Qt::WA_WState_Created)) applyTo(window);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::WinIdChange) applyTo(static_cast<QWidget*>(watched));
        return false;
    }

private:
    void applyTo(QWidget* window) {
        auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
        xcb_connection_t* c = x11 ? x11->connection() : nullptr;
        if (!c || xcb_connection_has_error(c) || !window->internalWinId()) return;
        apply(c, xcb_window_t(window->internalWinId()), color_);
    }
    QColor color_;
};

}  // namespace

void fillNativeWindowWith(QWidget* window, const QColor& color) {
    if (!window) return;
    delete window->findChild<QObject*>(QLatin1String(NativeBackground::kName), Qt::FindDirectChildrenOnly);
    new NativeBackground(window, color);
}

}  // namespace hw
