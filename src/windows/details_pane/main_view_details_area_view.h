#pragma once
#include <functional>
#include <optional>
#include <string>

#include "core/color.h"
#include "platform/backend/parse_file.h"

namespace hw {

class ConnectButtonModel;

// The bars that slide over the pane's top edge.
enum class PaneTopBar { error, update, server, autoReconnect };

// What the error bar shows.
struct ErrorBarContent {
    std::string upperText;
    std::string lowerText;          // the one-line field
    std::string multiLineText;      // the smaller multi-line label, when used
    bool multiLine = false;
    bool pickDifferentLocationLinkVisible = false;
    double upperTextTopConstraint = 6.0;
};

// The server bar and footer line, styled.
struct ServerBarLook {
    Color background;
    Color border;
    Color textColor;
    std::string icon;  // empty: no icon
    double leftConstraint = 0.0;
    std::string linkText;
    // UTF-16 units of linkText drawn in the title's font, not underlined.
    std::optional<std::pair<std::size_t, std::size_t>> boldRange;
};

// The server's line at the pane's foot.
struct BottomBarLook {
    std::string text;
    // UTF-16 units of text that carry the link; none: the whole line does.
    std::optional<std::pair<std::size_t, std::size_t>> linkRange;
    ParseFilePtr icon;
};

// What the widget reports to the pane.
class MainViewDetailsAreaEvents {
public:
    virtual ~MainViewDetailsAreaEvents() = default;
    virtual void onConnectButtonClick() = 0;
    virtual void onChangeLinkFieldClick() = 0;
    virtual void onChangeProtocolLinkClick() = 0;
    virtual void onPickDifferentLocation_linkButtonClick() = 0;
    virtual void onErrorTopNotificationBar_CloseButton_click() = 0;
    virtual void onUpdateInstall_linkButtonClick() = 0;
    virtual void onUpdateTopNotificationBar_CloseButton_click() = 0;
    virtual void onTopBarLinkedButtonClick() = 0;
    virtual void onFooterLinkClick() = 0;
    virtual void onInviteFriendsBottomBarButtonClick() = 0;
    virtual void onBottomBarCloseClick() = 0;
    virtual void giftBottonToOpenBottonBarClickHandler() = 0;
};

// The details pane's views as its controller drives them. Main thread only.
// Slides and fades take completions that run when the animation ends.
class MainViewDetailsAreaView {
public:
    virtual ~MainViewDetailsAreaView() = default;
    virtual void setEvents(MainViewDetailsAreaEvents* events) = 0;
    // The button draws from the model and forwards the pointer to it.
    virtual void bindConnectButton(ConnectButtonModel& model) = 0;
    virtual void refreshConnectButton() = 0;

    // Labels and fields.
    virtual void setConnectToText(const std::string& text) = 0;
    virtual void setLocationName(const std::string& text) = 0;
    virtual void setFlagImage(const ParseFilePtr& file) = 0;
    virtual void setProtocolText(const std::string& text) = 0;
    virtual void setPublicIPAddressText(const std::string& text) = 0;
    virtual void setConnectionTimeText(const std::string& text) = 0;
    virtual void setConnectionDetailsBoxHidden(bool hidden) = 0;
    virtual void setChangeProtocolLinkText(const std::string& text) = 0;
    virtual void setChangeLocationEnabled(bool enabled, double changeProtocolLinkAlpha) = 0;

    // The connect button's companions.
    virtual void setConnectingXSignHidden(bool hidden) = 0;
    virtual void setConnectButtonXSignPaddingLeft(double padding) = 0;
    virtual void setChangeLocationInsideButton(bool hidden, double alpha) = 0;
    virtual void showConnectButtonPopover(const std::string& text) = 0;
    virtual void closeConnectButtonPopover() = 0;

    // The flag's indicators.
    virtual void setFlagLoadingSpinning(bool spinning) = 0;
    virtual void setFlagConnectedIndicatorHidden(bool hidden) = 0;

    // The kill-switch reconnect overlay, above which the connect button stays.
    virtual bool isAutoReconnectOverlayHidden() const = 0;
    virtual void setAutoReconnectOverlay(bool hidden, const std::string& header, const std::string& subheader) = 0;
    virtual void setAutoReconnectSpinning(bool spinning) = 0;

    // Top bars; the strip behind them shows while none is up.
    virtual void setErrorBar(const ErrorBarContent& content) = 0;
    virtual void setUpdateBarText(const std::string& text, const std::string& linkText) = 0;
    virtual void setTopBarStripHidden(bool hidden) = 0;
    // In: from 60 px above its place over 0.25 s; out: to 50 px above.
    virtual void slideTopBar(PaneTopBar bar, bool in, std::function<void()> done) = 0;
    virtual void setTopBarHidden(PaneTopBar bar, bool hidden) = 0;
    virtual bool isTopBarHidden(PaneTopBar bar) const = 0;

    // The server bar, the footer and their spinners.
    virtual void setServerBarLook(const ServerBarLook& look) = 0;
    virtual void setBarActivityIndicatorsSpinning(bool spinning) = 0;
    // None: the bottom bar is hidden.
    virtual void setBottomBar(const std::optional<BottomBarLook>& look) = 0;
    // Closed by the user: only the gift button shows, to open it again.
    virtual void setBottomBarCollapsed(bool collapsed) = 0;

    // Maps: the dark one over the light one while connected.
    virtual void crossFadeMaps(bool dark, double seconds) = 0;
    virtual void fadeAutoUpdateOverlay(bool in, double seconds, std::function<void()> done) = 0;
    virtual void setAutoUpdateOverlayHidden(bool hidden) = 0;

    virtual void refreshHandCursors() = 0;
};

}  // namespace hw
