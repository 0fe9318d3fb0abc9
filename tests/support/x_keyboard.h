#pragma once
// A keyboard on a test's own X display, for windows another process shows:
// finds the top-level windows it maps and types into one of them.
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace hw::test {

class XKeyboard {
public:
    explicit XKeyboard(const std::string& display)
        : c_(xcb_connect(display.c_str(), nullptr), xcb_disconnect) {}
    bool ok() const { return c_ && !xcb_connection_has_error(c_.get()); }

    // The top-level windows shown now (no window manager reparents them).
    std::set<xcb_window_t> shownWindows() {
        std::set<xcb_window_t> shown;
        const xcb_window_t root = screen()->root;
        std::unique_ptr<xcb_query_tree_reply_t, decltype(&std::free)> tree(
            xcb_query_tree_reply(c_.get(), xcb_query_tree(c_.get(), root), nullptr), std::free);
        if (!tree) return shown;
        const xcb_window_t* children = xcb_query_tree_children(tree.get());
        for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
            std::unique_ptr<xcb_get_window_attributes_reply_t, decltype(&std::free)> a(
                xcb_get_window_attributes_reply(c_.get(), xcb_get_window_attributes(c_.get(), children[i]), nullptr),
                std::free);
            if (a && a->map_state == XCB_MAP_STATE_VIEWABLE) shown.insert(children[i]);
        }
        return shown;
    }

    // Whether the window shows: mapped, and every window around it too.
    bool viewable(xcb_window_t window) {
        std::unique_ptr<xcb_get_window_attributes_reply_t, decltype(&std::free)> a(
            xcb_get_window_attributes_reply(c_.get(), xcb_get_window_attributes(c_.get(), window), nullptr), std::free);
        return a && a->map_state == XCB_MAP_STATE_VIEWABLE;
    }

    // Whether the window is a tooltip or a popup the window manager never sees.
    bool overrideRedirect(xcb_window_t window) {
        std::unique_ptr<xcb_get_window_attributes_reply_t, decltype(&std::free)> a(
            xcb_get_window_attributes_reply(c_.get(), xcb_get_window_attributes(c_.get(), window), nullptr), std::free);
        return a && a->override_redirect;
    }

    // Gives the window the input focus and presses and releases the key of
    // keysym there, with the modifiers of state (XCB_MOD_MASK_*) held.
    bool press(xcb_window_t window, xcb_keysym_t keysym, uint16_t state = 0) {
        const xcb_keycode_t code = keycodeOf(keysym);
        if (!code) return false;
        xcb_set_input_focus(c_.get(), XCB_INPUT_FOCUS_POINTER_ROOT, window, XCB_CURRENT_TIME);
        for (uint8_t type : {XCB_KEY_PRESS, XCB_KEY_RELEASE}) {
            xcb_key_press_event_t e{};
            e.response_type = type;
            e.detail = code;
            e.root = screen()->root;
            e.event = window;
            e.state = state;
            e.same_screen = 1;
            xcb_send_event(c_.get(), 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&e));
        }
        return xcb_flush(c_.get()) > 0;
    }

    // Printable ASCII, one key each (their keysyms are their codes), with
    // Shift where the layout puts the character on the shifted level.
    bool type(xcb_window_t window, const std::string& text) {
        for (char c : text) {
            const auto keysym = static_cast<xcb_keysym_t>(static_cast<unsigned char>(c));
            if (!press(window, keysym, shifted(keysym) ? XCB_MOD_MASK_SHIFT : 0)) return false;
        }
        return true;
    }

    // A click of the first button at a point of the window.
    bool click(xcb_window_t window, int16_t x, int16_t y) {
        for (uint8_t type : {XCB_BUTTON_PRESS, XCB_BUTTON_RELEASE}) {
            xcb_button_press_event_t e{};
            e.response_type = type;
            e.detail = 1;
            e.root = screen()->root;
            e.event = window;
            e.event_x = x;
            e.event_y = y;
            e.state = type == XCB_BUTTON_RELEASE ? XCB_BUTTON_MASK_1 : 0;
            e.same_screen = 1;
            xcb_send_event(c_.get(), 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&e));
        }
        return xcb_flush(c_.get()) > 0;
    }

    // Asks the window to close as a window manager's close button does.
    bool closeByTitleBar(xcb_window_t window) {
        xcb_client_message_event_t e{};
        e.response_type = XCB_CLIENT_MESSAGE;
        e.format = 32;
        e.window = window;
        e.type = atom("WM_PROTOCOLS");
        e.data.data32[0] = atom("WM_DELETE_WINDOW");
        e.data.data32[1] = XCB_CURRENT_TIME;
        xcb_send_event(c_.get(), 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&e));
        return xcb_flush(c_.get()) > 0;
    }

    // The windows below the root's children whose WM_CLASS names the class:
    // an icon docked in a tray is reparented into the tray's own window.
    std::set<xcb_window_t> nestedWindowsOfClass(const std::string& wmClass) {
        std::set<xcb_window_t> found;
        std::vector<xcb_window_t> todo;
        for (xcb_window_t w : children(screen()->root))
            for (xcb_window_t below : children(w)) todo.push_back(below);
        while (!todo.empty()) {
            const xcb_window_t w = todo.back();
            todo.pop_back();
            std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> p(
                xcb_get_property_reply(c_.get(), xcb_get_property(c_.get(), 0, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 256),
                                       nullptr),
                std::free);
            if (p && xcb_get_property_value_length(p.get()) > 0 &&
                std::string(static_cast<const char*>(xcb_get_property_value(p.get())),
                            static_cast<std::size_t>(xcb_get_property_value_length(p.get())))
                        .find(wmClass) != std::string::npos)
                found.insert(w);
            for (xcb_window_t below : children(w)) todo.push_back(below);
        }
        return found;
    }

    // The window's title as the window manager reads it (_NET_WM_NAME).
    std::string title(xcb_window_t window) {
        const xcb_atom_t name = atom("_NET_WM_NAME"), utf8 = atom("UTF8_STRING");
        std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> p(
            xcb_get_property_reply(c_.get(), xcb_get_property(c_.get(), 0, window, name, utf8, 0, 1024), nullptr),
            std::free);
        if (!p) return {};
        return std::string(static_cast<const char*>(xcb_get_property_value(p.get())),
                           static_cast<std::size_t>(xcb_get_property_value_length(p.get())));
    }

    // The key that gives the keysym on its first level, or 0.
    xcb_keycode_t keycode(xcb_keysym_t keysym) { return keycodeOf(keysym); }

private:
    std::vector<xcb_window_t> children(xcb_window_t parent) {
        std::unique_ptr<xcb_query_tree_reply_t, decltype(&std::free)> tree(
            xcb_query_tree_reply(c_.get(), xcb_query_tree(c_.get(), parent), nullptr), std::free);
        if (!tree) return {};
        const xcb_window_t* first = xcb_query_tree_children(tree.get());
        return {first, first + xcb_query_tree_children_length(tree.get())};
    }
    xcb_atom_t atom(const char* name) {
        std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> r(
            xcb_intern_atom_reply(c_.get(), xcb_intern_atom(c_.get(), 0, static_cast<uint16_t>(std::strlen(name)), name),
                                  nullptr),
            std::free);
        return r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
    }
    xcb_screen_t* screen() { return xcb_setup_roots_iterator(xcb_get_setup(c_.get())).data; }
    bool shifted(xcb_keysym_t keysym) {
        int level = 0;
        keycodeOf(keysym, &level);
        return level == 1;
    }
    xcb_keycode_t keycodeOf(xcb_keysym_t keysym, int* level = nullptr) {
        const xcb_setup_t* setup = xcb_get_setup(c_.get());
        const int count = setup->max_keycode - setup->min_keycode + 1;
        std::unique_ptr<xcb_get_keyboard_mapping_reply_t, decltype(&std::free)> map(
            xcb_get_keyboard_mapping_reply(
                c_.get(), xcb_get_keyboard_mapping(c_.get(), setup->min_keycode, static_cast<uint8_t>(count)), nullptr),
            std::free);
        if (!map) return 0;
        const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(map.get());
        for (int k = 0; k < count; ++k)
            for (int s = 0; s < map->keysyms_per_keycode; ++s)
                if (syms[k * map->keysyms_per_keycode + s] == keysym) {
                    if (level) *level = s;
                    return static_cast<xcb_keycode_t>(setup->min_keycode + k);
                }
        return 0;
    }

    std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)> c_;
};

}  // namespace hw::test
