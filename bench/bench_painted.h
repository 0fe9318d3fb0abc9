#pragma once
// When a window shows what it will go on showing, seen from outside: its
// pixels read back from the X server until they have stayed the same a while.
// The painted moment is their last change before that quiet, as a person
// looking at the screen would see it; a mapped window may still be blank.
#include <xcb/xcb.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

namespace hw::bench {

// A digest of the window's pixels; nothing when they cannot be read.
inline std::optional<std::uint64_t> windowPixels(xcb_connection_t* c, xcb_window_t window) {
    std::unique_ptr<xcb_get_geometry_reply_t, decltype(&std::free)> g(
        xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr), std::free);
    if (!g || g->width == 0 || g->height == 0) return std::nullopt;
    std::unique_ptr<xcb_get_image_reply_t, decltype(&std::free)> image(
        xcb_get_image_reply(c, xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, window, 0, 0, g->width, g->height, ~0u),
                            nullptr),
        std::free);
    if (!image) return std::nullopt;
    const std::uint8_t* p = xcb_get_image_data(image.get());
    const int n = xcb_get_image_data_length(image.get());
    std::uint64_t h = 1469598103934665603ull;
    for (int i = 0; i < n; ++i) h = (h ^ p[i]) * 1099511628211ull;
    return h ^ (std::uint64_t(g->width) << 32 | g->height);
}

// The largest top-level window shown now (no window manager reparents them),
// popups and tooltips left out; 0 when none shows.
inline xcb_window_t largestShownWindow(xcb_connection_t* c) {
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    std::unique_ptr<xcb_query_tree_reply_t, decltype(&std::free)> tree(
        xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr), std::free);
    if (!tree) return 0;
    xcb_window_t best = 0;
    long bestArea = 0;
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
        std::unique_ptr<xcb_get_window_attributes_reply_t, decltype(&std::free)> a(
            xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, children[i]), nullptr), std::free);
        if (!a || a->map_state != XCB_MAP_STATE_VIEWABLE || a->override_redirect) continue;
        std::unique_ptr<xcb_get_geometry_reply_t, decltype(&std::free)> g(
            xcb_get_geometry_reply(c, xcb_get_geometry(c, children[i]), nullptr), std::free);
        if (g && long(g->width) * g->height > bestArea) {
            bestArea = long(g->width) * g->height;
            best = children[i];
        }
    }
    return best;
}

// Reads the window's pixels every millisecond or so (between reads, spin runs
// the caller's own events) until ready() holds and they have stayed the same
// for quietMs. Answers the last change's moment in ms after `since` (the
// first read's when nothing changed after it: the window was painted by
// then), or -1 past boundMs or when the window cannot be read.
inline double paintedAfter(xcb_connection_t* c, xcb_window_t window, std::chrono::steady_clock::time_point since,
                           const std::function<bool()>& ready, const std::function<void()>& spin = {},
                           int quietMs = 300, int boundMs = 60000) {
    using Clock = std::chrono::steady_clock;
    Clock::time_point changed = Clock::now();
    auto last = windowPixels(c, window);
    if (!last) return -1;
    bool isReady = false;
    while (Clock::now() - since < std::chrono::milliseconds(boundMs)) {
        if (spin) spin();
        else std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const Clock::time_point read = Clock::now();
        const auto now = windowPixels(c, window);
        if (!now) return -1;
        if (*now != *last) {
            last = now;
            changed = read;
        }
        isReady = isReady || ready();
        if (isReady && read - changed >= std::chrono::milliseconds(quietMs))
            return std::chrono::duration<double, std::milli>(changed - since).count();
    }
    return -1;
}

// The first change of the window's pixels once ready() holds (an event the
// application sends as it changes its window, such as a notification that
// reaches the caller before the repaint does), in ms after `since`; -1 past
// boundMs or when the window cannot be read. A window that settles into
// animations after such an event never goes quiet soon enough to be timed by
// paintedAfter.
inline double firstChangeAfter(xcb_connection_t* c, xcb_window_t window, std::chrono::steady_clock::time_point since,
                               const std::function<bool()>& ready, const std::function<void()>& spin = {},
                               int boundMs = 60000) {
    using Clock = std::chrono::steady_clock;
    std::optional<std::uint64_t> atReady;
    while (Clock::now() - since < std::chrono::milliseconds(boundMs)) {
        if (spin) spin();
        else std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (!atReady) {
            if (!ready()) continue;
            atReady = windowPixels(c, window);
            if (!atReady) return -1;
            continue;
        }
        const Clock::time_point read = Clock::now();
        const auto now = windowPixels(c, window);
        if (!now) return -1;
        if (*now != *atReady) return std::chrono::duration<double, std::milli>(read - since).count();
    }
    return -1;
}

}  // namespace hw::bench
