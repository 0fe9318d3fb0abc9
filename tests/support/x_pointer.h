#pragma once
// A mouse on a test's own X display, for windows another process shows: clicks
// through the XTEST extension (as a real device would, so toolkits that read
// XInput2 see it), and finds a colour on screen to aim at.
#include <sys/uio.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>
#include <algorithm>

namespace hw::test {

class XPointer {
public:
    explicit XPointer(const std::string& display) : c_(xcb_connect(display.c_str(), nullptr), xcb_disconnect) {}
    // Whether the display answers and has XTEST.
    bool ok() {
        if (!c_ || xcb_connection_has_error(c_.get())) return false;
        const xcb_query_extension_reply_t* x = xcb_get_extension_data(c_.get(), &xtest());
        return x && x->present;
    }

    struct Point {
        int x = 0;
        int y = 0;
    };
    // The middle of the pixels of exactly this colour ("#RRGGBB" as 0xRRGGBB) inside the
    // window, in screen coordinates; nothing when the window shows none.
    std::optional<Point> findColour(xcb_window_t window, std::uint32_t rgb) {
        const auto all = findColourSpots(window, rgb, {}, 0, true);
        if (all.empty()) return std::nullopt;
        return all.front();
    }

    struct Band {
        int left = 0, top = 0, right = 1 << 15, bottom = 1 << 15;
    };
    // The middles of the separate spots of exactly this colour inside the band of
    // the window, in screen coordinates, left to right (or top to bottom with
    // down): lines of the colour closer than gap belong to one spot, so a row of
    // drawn buttons gives one spot each.
    std::vector<Point> findColourSpots(xcb_window_t window, std::uint32_t rgb, Band band, int gap = 4,
                                       bool oneSpot = false, bool down = false) {
        std::vector<Point> spots;
        std::unique_ptr<xcb_get_geometry_reply_t, decltype(&std::free)> g(
            xcb_get_geometry_reply(c_.get(), xcb_get_geometry(c_.get(), window), nullptr), std::free);
        if (!g) return spots;
        std::unique_ptr<xcb_get_image_reply_t, decltype(&std::free)> image(
            xcb_get_image_reply(c_.get(),
                                xcb_get_image(c_.get(), XCB_IMAGE_FORMAT_Z_PIXMAP, window, 0, 0, g->width, g->height, ~0u),
                                nullptr),
            std::free);
        // Xvfb's default screen: 24 bits in 32, blue first.
        if (!image || image->depth != 24 ||
            xcb_get_image_data_length(image.get()) < static_cast<int>(4u * g->width * g->height))
            return spots;
        std::unique_ptr<xcb_translate_coordinates_reply_t, decltype(&std::free)> at(
            xcb_translate_coordinates_reply(
                c_.get(), xcb_translate_coordinates(c_.get(), window, screen()->root, 0, 0), nullptr),
            std::free);
        if (!at) return spots;
        const std::uint8_t* p = xcb_get_image_data(image.get());
        const int x0 = std::max(band.left, 0), x1 = std::min<int>(band.right, g->width);
        const int y0 = std::max(band.top, 0), y1 = std::min<int>(band.bottom, g->height);
        long sx = 0, sy = 0, n = 0;
        int last = -(1 << 20);
        const auto close = [&] {
            if (n > 0) spots.push_back({at->dst_x + static_cast<int>(sx / n), at->dst_y + static_cast<int>(sy / n)});
            sx = sy = n = 0;
        };
        const int outer0 = down ? y0 : x0, outer1 = down ? y1 : x1, inner0 = down ? x0 : y0, inner1 = down ? x1 : y1;
        for (int o = outer0; o < outer1; ++o) {
            for (int i = inner0; i < inner1; ++i) {
                const int x = down ? i : o, y = down ? o : i;
                const std::uint8_t* px = p + 4 * (y * g->width + x);
                if ((std::uint32_t(px[2]) << 16 | std::uint32_t(px[1]) << 8 | px[0]) != rgb) continue;
                if (!oneSpot && o - last > gap) close();
                last = o;
                sx += x;
                sy += y;
                ++n;
            }
        }
        close();
        return spots;
    }
    // Where the window's corner is on the screen.
    Point origin(xcb_window_t window) {
        std::unique_ptr<xcb_translate_coordinates_reply_t, decltype(&std::free)> at(
            xcb_translate_coordinates_reply(
                c_.get(), xcb_translate_coordinates(c_.get(), window, screen()->root, 0, 0), nullptr),
            std::free);
        return at ? Point{at->dst_x, at->dst_y} : Point{};
    }
    // The window's size.
    Point size(xcb_window_t window) {
        std::unique_ptr<xcb_get_geometry_reply_t, decltype(&std::free)> g(
            xcb_get_geometry_reply(c_.get(), xcb_get_geometry(c_.get(), window), nullptr), std::free);
        return g ? Point{g->width, g->height} : Point{};
    }

    // Moves there and clicks the first button.
    bool click(Point at) {
        constexpr std::uint8_t kMotion = 6, kPress = 4, kRelease = 5;
        fake(kMotion, 0, at);
        fake(kPress, 1, at);
        fake(kRelease, 1, at);
        sync();
        return !xcb_connection_has_error(c_.get());
    }

private:
    static xcb_extension_t& xtest() {
        static xcb_extension_t id{"XTEST", 0};
        return id;
    }
    xcb_screen_t* screen() { return xcb_setup_roots_iterator(xcb_get_setup(c_.get())).data; }
    void sync() { std::free(xcb_get_input_focus_reply(c_.get(), xcb_get_input_focus(c_.get()), nullptr)); }

    // XTEST FakeInput: an event as if from the core pointer.
    void fake(std::uint8_t type, std::uint8_t detail, Point at) {
        struct Request {
            std::uint8_t major = 0;
            std::uint8_t minor = 2;
            std::uint16_t length = 9;
            std::uint8_t type;
            std::uint8_t detail;
            std::uint8_t pad0[2] = {};
            std::uint32_t time = 0;
            std::uint32_t root;
            std::uint8_t pad1[8] = {};
            std::int16_t x;
            std::int16_t y;
            std::uint8_t pad2[7] = {};
            std::uint8_t device = 0;
        } r{};
        static_assert(sizeof(Request) == 36);
        r.type = type;
        r.detail = detail;
        r.root = screen()->root;
        r.x = static_cast<std::int16_t>(at.x);
        r.y = static_cast<std::int16_t>(at.y);
        xcb_protocol_request_t request{2, &xtest(), 2, 1};
        struct iovec parts[4];
        parts[2].iov_base = &r;
        parts[2].iov_len = sizeof r;
        parts[3].iov_base = nullptr;
        parts[3].iov_len = 0;
        xcb_send_request(c_.get(), 0, parts + 2, &request);
    }

    std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)> c_;
};

}  // namespace hw::test
