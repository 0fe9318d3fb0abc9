#pragma once
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/main_queue.h"
#include "windows/details_pane/connect_button_callbacks.h"
#include "windows/details_pane/details_pane.h"

namespace hw {

class ApplicationModel;

// The connect button's state, label and hover machine; a Qt button draws it
// and forwards the pointer. Main thread only.
class ConnectButtonModel {
public:
    static constexpr double HOVER_DELAY_TRIGGER = 1.0;
    static constexpr double BUTTON_WIDTH = 184.0;
    static constexpr double BUTTON_HEIGHT = 55.0;
    static constexpr double kConnectLabelOffsetX = 26.0;
    static constexpr double kOtherLabelOffsetX = 24.0;
    // The hover band, in the button's own coordinates.
    static constexpr double kHoverBandLeft = 129.0;
    static constexpr double kHoverBandRightInset = 37.0;

    struct Point {
        double x = 0.0;
        double y = 0.0;
    };

    ConnectButtonModel(MainQueue& queue, const ApplicationModel& model);
    ~ConnectButtonModel();
    ConnectButtonModel(const ConnectButtonModel&) = delete;
    ConnectButtonModel& operator=(const ConnectButtonModel&) = delete;

    // Redraw whenever the face or label changes.
    std::function<void()> onChanged;

    void setToConnectState();
    void setToConnectingState();
    void setToDisconnectState();
    void onConnectedSuccessProcessing() { setToDisconnectState(); }
    void toggleButtonState();
    void setDefaultButtonLabel();
    void setButtonLabel(const std::string& text);
    const std::string& getCurrentButtonLabel() const { return label_; }

    ConnectButtonStates currentState() const { return state_; }
    bool isInConnectState() const { return state_ == ConnectButtonStates::connect; }
    bool isInConnectingState() const { return state_ == ConnectButtonStates::connecting; }
    bool isInDisconnectState() const { return state_ == ConnectButtonStates::disconnect; }
    const ConnectButtonCell& cell() const { return cell_; }
    // The image of the current face.
    std::string backgroundImageName() const;

    // Whether a point of the button (width wide) lies in the hover band.
    static bool inHoverBand(Point p, double width);

    // Pointer reports, in the button's coordinates; only the connect face
    // reacts. Qt sends no move while the pointer rests, so every report
    // (re)starts the rest timer.
    void mouseEntered(Point p);
    void mouseMoved(Point p);
    void mouseExited();
    // Drops the hover (rest timer, last point) as a leave would, without the log line.
    void mouseExitedProcessing();
    bool hoverTimerRunning() const { return timer_ != nullptr; }

private:
    void apply(ConnectButtonStates state, const std::string& label, double offsetX);
    void startDelayedHoverTimer();
    void stopDelayedHoverTimer();
    void onDelayedHoverTriggered();

    MainQueue& queue_;
    const ApplicationModel& model_;
    ConnectButtonStates state_ = ConnectButtonStates::connect;
    std::string label_;
    ConnectButtonCell cell_{kConnectLabelOffsetX};
    std::optional<Point> lastMouseMovePoint_;
    std::unique_ptr<Timer> timer_;
    std::shared_ptr<ConnectButtonModel*> self_;
};

}  // namespace hw
