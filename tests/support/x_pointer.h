#pragma once
// A mouse on a test's own X display, for windows another process shows: clicks
// through the XTEST extension (as a real device would, so toolkits that read
// XInput2 see it), and finds a colour on screen to aim at.
#include <sys/uio.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>

#include <algorithm>
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
        bool operator==(const Point&) const = default;
    };
    // The middle of the pixels of exactly this colour ("#RRGGBB" as 0xRRGGBB) inside the
    // window, in screen coordinates; nothing when the window shows none.
    std::optional<Point> findColour(xcb_window_t window, std::uint32_t rgb) {
        const auto shot = grab(window);
        long sx = 0, sy = 0, n = 0;
        for (int y = 0; y < shot.height; ++y)
            for (int x = 0; x < shot.width; ++x)
                if (shot.at(x, y) == rgb) sx += x, sy += y, ++n;
        if (n == 0) return std::nullopt;
        return Point{shot.origin.x + static_cast<int>(sx / n), shot.origin.y + static_cast<int>(sy / n)};
    }

    // A patch of one colour: its bounds in screen coordinates, edges included.
    struct Patch {
        int left = 0, top = 0, right = 0, bottom = 0;
        Point middle() const { return {(left + right) / 2, (top + bottom) / 2}; }
    };
    // The separate patches of this colour inside the window, left to right;
    // pixels at most gap apart belong to one patch, as the strokes of one icon or
    // the letters of one word do. Tolerance: how far each channel may stray, for
    // thin strokes smoothed at their edges.
    std::vector<Patch> findPatches(xcb_window_t window, std::uint32_t rgb, int gap = 3, int tolerance = 0) {
        auto shot = grab(window);
        shot.tolerance = tolerance;
        std::vector<int> label(static_cast<std::size_t>(shot.width) * static_cast<std::size_t>(shot.height), -1);
        std::vector<Patch> patches;
        for (int y = 0; y < shot.height; ++y) {
            for (int x = 0; x < shot.width; ++x) {
                if (label[idx(shot, x, y)] >= 0 || !shot.is(x, y, rgb)) continue;
                const int id = static_cast<int>(patches.size());
                Patch patch{x, y, x, y};
                std::vector<Point> todo{{x, y}};
                label[idx(shot, x, y)] = id;
                while (!todo.empty()) {
                    const Point p = todo.back();
                    todo.pop_back();
                    patch.left = std::min(patch.left, p.x), patch.right = std::max(patch.right, p.x);
                    patch.top = std::min(patch.top, p.y), patch.bottom = std::max(patch.bottom, p.y);
                    for (int ny = std::max(0, p.y - gap); ny <= std::min(shot.height - 1, p.y + gap); ++ny)
                        for (int nx = std::max(0, p.x - gap); nx <= std::min(shot.width - 1, p.x + gap); ++nx)
                            if (label[idx(shot, nx, ny)] < 0 && shot.is(nx, ny, rgb)) {
                                label[idx(shot, nx, ny)] = id;
                                todo.push_back({nx, ny});
                            }
                }
                patches.push_back(patch);
            }
        }
        for (Patch& p : patches) {
            p.left += shot.origin.x, p.right += shot.origin.x;
            p.top += shot.origin.y, p.bottom += shot.origin.y;
        }
        std::sort(patches.begin(), patches.end(), [](const Patch& a, const Patch& b) { return a.left < b.left; });
        return patches;
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

    // Moves there and clicks the first button (3: the right one).
    bool click(Point at, std::uint8_t button = 1) {
        constexpr std::uint8_t kMotion = 6, kPress = 4, kRelease = 5;
        fake(kMotion, 0, at);
        fake(kPress, button, at);
        fake(kRelease, button, at);
        sync();
        return !xcb_connection_has_error(c_.get());
    }

    // Presses and releases the key as the keyboard would (XKeyboard::keycode
    // finds it): where the focus is, and seen by the window manager's grabs.
    bool key(std::uint8_t keycode) {
        constexpr std::uint8_t kKeyPress = 2, kKeyRelease = 3;
        fake(kKeyPress, keycode, {});
        fake(kKeyRelease, keycode, {});
        sync();
        return keycode != 0 && !xcb_connection_has_error(c_.get());
    }

private:
    // The window's pixels as the screen shows them, and where it is on it.
    struct Shot {
        int width = 0, height = 0;
        Point origin;
        std::unique_ptr<xcb_get_image_reply_t, decltype(&std::free)> image{nullptr, std::free};
        std::uint32_t at(int x, int y) const {
            const std::uint8_t* px = xcb_get_image_data(image.get()) + 4 * (y * width + x);
            return std::uint32_t(px[2]) << 16 | std::uint32_t(px[1]) << 8 | px[0];
        }
        int tolerance = 0;
        bool is(int x, int y, std::uint32_t rgb) const {
            const std::uint32_t c = at(x, y);
            for (int shift : {0, 8, 16})
                if (std::abs(int(c >> shift & 0xFF) - int(rgb >> shift & 0xFF)) > tolerance) return false;
            return true;
        }
    };
    static std::size_t idx(const Shot& s, int x, int y) {
        return static_cast<std::size_t>(y) * static_cast<std::size_t>(s.width) + static_cast<std::size_t>(x);
    }
    // Empty when the window is gone or the screen is not Xvfb's default.
    Shot grab(xcb_window_t window) {
        Shot shot;
        std::unique_ptr<xcb_get_geometry_reply_t, decltype(&std::free)> g(
            xcb_get_geometry_reply(c_.get(), xcb_get_geometry(c_.get(), window), nullptr), std::free);
        if (!g) return shot;
        shot.image.reset(xcb_get_image_reply(
            c_.get(), xcb_get_image(c_.get(), XCB_IMAGE_FORMAT_Z_PIXMAP, window, 0, 0, g->width, g->height, ~0u),
            nullptr));
        // Xvfb's default screen: 24 bits in 32, blue first.
        if (!shot.image || shot.image->depth != 24 ||
            xcb_get_image_data_length(shot.image.get()) < static_cast<int>(4u * g->width * g->height))
            return shot;
        std::unique_ptr<xcb_translate_coordinates_reply_t, decltype(&std::free)> at(
            xcb_translate_coordinates_reply(c_.get(), xcb_translate_coordinates(c_.get(), window, screen()->root, 0, 0),
                                            nullptr),
            std::free);
        if (!at) return shot;
        shot.width = g->width;
        shot.height = g->height;
        shot.origin = {at->dst_x, at->dst_y};
        return shot;
    }
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
