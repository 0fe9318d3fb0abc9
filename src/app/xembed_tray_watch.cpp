#include "app/xembed_tray_watch.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <utility>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMetaObject>

namespace hw {
namespace {

xcb_atom_t atom(xcb_connection_t* c, const std::string& name) {
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<uint16_t>(name.size()), name.c_str()), nullptr),
        &std::free);
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

// The screen number the display names (":0.1" is screen 1).
int screenNumber() {
    int screen = 0;
    char* host = nullptr;
    int display = 0;
    if (!xcb_parse_display(nullptr, &host, &display, &screen)) screen = 0;
    std::free(host);
    return screen;
}

// What runs next must not run inside Qt's event dispatch: Qt hears the same
// events for its own icon.
void runLater(std::function<void()> f) {
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(f), Qt::QueuedConnection);
}

}  // namespace

XEmbedTrayWatch::XEmbedTrayWatch() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* c = x11 ? x11->connection() : nullptr;
    if (!c || xcb_connection_has_error(c)) return;
    const int number = screenNumber();
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < number && it.rem; ++i) xcb_screen_next(&it);
    if (!it.rem) return;
    root_ = it.data->root;
    selection_ = atom(c, "_NET_SYSTEM_TRAY_S" + std::to_string(number));
    manager_ = atom(c, "MANAGER");
    if (selection_ == XCB_ATOM_NONE || manager_ == XCB_ATOM_NONE) return;
    connection_ = c;
}

XEmbedTrayWatch::~XEmbedTrayWatch() {
    if (installed_ && QCoreApplication::instance()) QCoreApplication::instance()->removeNativeEventFilter(this);
}

bool XEmbedTrayWatch::trayRuns() const {
    if (!connection_) return false;
    std::unique_ptr<xcb_get_selection_owner_reply_t, decltype(&std::free)> reply(
        xcb_get_selection_owner_reply(connection_, xcb_get_selection_owner(connection_, selection_), nullptr),
        &std::free);
    return reply && reply->owner != XCB_WINDOW_NONE;
}

// Adds structure changes to what this connection hears of the window; the
// connection is Qt's, so what it listens for already stays.
void XEmbedTrayWatch::listen(std::uint32_t window) {
    std::unique_ptr<xcb_get_window_attributes_reply_t, decltype(&std::free)> attributes(
        xcb_get_window_attributes_reply(connection_, xcb_get_window_attributes(connection_, window), nullptr),
        &std::free);
    const uint32_t mask = attributes ? attributes->your_event_mask : 0;
    if (mask & XCB_EVENT_MASK_STRUCTURE_NOTIFY) return;
    const uint32_t values[] = {mask | XCB_EVENT_MASK_STRUCTURE_NOTIFY};
    xcb_change_window_attributes(connection_, window, XCB_CW_EVENT_MASK, values);
    xcb_flush(connection_);
}

void XEmbedTrayWatch::install() {
    if (installed_) return;
    QCoreApplication::instance()->installNativeEventFilter(this);
    installed_ = true;
}

void XEmbedTrayWatch::watch(std::function<void()> started) {
    if (!connection_) return;
    started_ = std::move(started);
    // A tray announces itself with a MANAGER message to the root window,
    // which reaches only clients that listen for its structure changes.
    listen(root_);
    install();
}

void XEmbedTrayWatch::watchGone(std::function<void()> gone) {
    if (!connection_) return;
    std::unique_ptr<xcb_get_selection_owner_reply_t, decltype(&std::free)> reply(
        xcb_get_selection_owner_reply(connection_, xcb_get_selection_owner(connection_, selection_), nullptr),
        &std::free);
    owner_ = reply ? reply->owner : xcb_window_t{XCB_WINDOW_NONE};
    gone_ = std::move(gone);
    if (owner_ != XCB_WINDOW_NONE) {
        listen(owner_);
        install();
        // Ended before it was listened to: its end is not heard.
        if (trayRuns()) return;
    }
    runLater(std::exchange(gone_, nullptr));
}

bool XEmbedTrayWatch::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t") return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    const uint8_t type = event->response_type & 0x7f;
    if (type == XCB_DESTROY_NOTIFY && gone_) {
        const auto* d = reinterpret_cast<const xcb_destroy_notify_event_t*>(event);
        if (d->window == owner_) runLater(std::exchange(gone_, nullptr));
        return false;
    }
    if (type != XCB_CLIENT_MESSAGE || !started_) return false;
    const auto* m = reinterpret_cast<const xcb_client_message_event_t*>(event);
    if (m->type != manager_ || m->format != 32 || m->data.data32[1] != selection_) return false;
    runLater(std::exchange(started_, nullptr));
    return false;
}

}  // namespace hw
