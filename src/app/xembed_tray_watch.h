#pragma once
#include <cstdint>
#include <functional>

#include <QAbstractNativeEventFilter>

struct xcb_connection_t;

namespace hw {

// The older kind of tray: a window that owns the _NET_SYSTEM_TRAY_S<n>
// selection and docks XEmbed icons. Qt's own tray icon docks there; this only
// tells whether such a tray runs and when one starts, so that the icon is made
// only once a tray of either kind is there.
class XEmbedTrayWatch final : public QAbstractNativeEventFilter {
public:
    // Without an X display (another platform, offscreen) it never sees a tray.
    XEmbedTrayWatch();
    ~XEmbedTrayWatch() override;
    XEmbedTrayWatch(const XEmbedTrayWatch&) = delete;
    XEmbedTrayWatch& operator=(const XEmbedTrayWatch&) = delete;

    bool available() const { return connection_ != nullptr; }
    // Whether a tray owns the selection now.
    bool trayRuns() const;
    // Runs once, on the main thread's event loop, when a tray announces itself.
    void watch(std::function<void()> started);
    // Runs once, on the main thread's event loop, when the tray that runs now
    // ends (at once if none runs).
    void watchGone(std::function<void()> gone);

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    xcb_connection_t* connection_ = nullptr;
    std::uint32_t root_ = 0;
    std::uint32_t selection_ = 0;
    std::uint32_t manager_ = 0;
    std::uint32_t owner_ = 0;
    bool installed_ = false;
    std::function<void()> started_;
    std::function<void()> gone_;

    void listen(std::uint32_t window);
    void install();
};

}  // namespace hw
