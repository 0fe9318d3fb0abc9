#pragma once
// The main window's controller on fakes: a recording view, pane, shell and
// locations window, the real state object, list model, links and probe.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "network/wifi_info_helper.h"
#include "services/links_manager.h"
#include "support/fake_user_notification_center.h"
#include "support/fake_wifi.h"
#include "support/kit_controller_fixture.h"
#include "support/recording_details_pane.h"
#include "support/recording_locations_window.h"
#include "support/recording_pane_engine.h"
#include "support/recording_shell_commands.h"
#include "support/recording_window_view.h"
#include "windows/main/main_window_view_controller.h"

namespace hw::test {

class RecordingMainWindowView : public RecordingWindowView, public MainWindowView {
public:
    MainWindowViewEvents* events = nullptr;
    LocationsTableViewModel* table = nullptr;
    std::vector<int> scrolledTo;
    bool scrollingDisabled = false;
    std::optional<bool> searchHidden;
    ImagePtr map;
    Size mapSize{600, 400};
    std::vector<std::pair<ImagePtr, FlagPlacement>> flags;
    int popIns = 0;
    std::optional<bool> ringSpinning;
    std::vector<bool> loading;
    ImagePtr icon;
    std::string title;
    std::pair<std::string, std::string> subtitle;
    std::string linkText;
    struct Fade {
        SmartWidgetElement element;
        bool in;
        double seconds;
        std::function<void()> done;
    };
    std::vector<Fade> fades;
    std::function<void()> tileClick;
    std::vector<ProfileMenuTableItemModel> popoverRows;
    double popoverHeight = 0;
    bool popoverOpen = false;
    std::array<std::string, 4> menuIcons;
    std::optional<bool> overlayHidden;
    int cursorRefreshes = 0;

    void setEvents(MainWindowViewEvents* e) override { events = e; }
    void bindTable(LocationsTableViewModel& vm) override { table = &vm; }
    void scrollRowToVisible(int row) override { scrolledTo.push_back(row); }
    void setTableScrollingDisabled(bool d) override { scrollingDisabled = d; }
    void setSearchFieldHidden(bool h) override { searchHidden = h; }
    void setMapImage(const ImagePtr& image) override { map = image; }
    Size mapViewSize() const override { return mapSize; }
    void placeFlag(const ImagePtr& flag, const FlagPlacement& p) override { flags.emplace_back(flag, p); }
    void animateFlagAppearing() override { ++popIns; }
    void animateFlagDisappearing() override {}
    void setFlagLoadingIndicatorSpinning(bool s) override { ringSpinning = s; }
    void setFlagClickHandler(std::function<void()>) override {}
    void setSmartWidgetLoading(bool l) override { loading.push_back(l); }
    void setSmartWidgetIcon(const ImagePtr& i) override { icon = i; }
    std::string smartWidgetTitle() const override { return title; }
    void setSmartWidgetTitle(const std::string& t) override { title = t; }
    void setSmartWidgetSubtitle(const std::string& a, const std::string& b) override { subtitle = {a, b}; }
    void setSmartWidgetLinkText(const std::string& t) override { linkText = t; }
    void fadeSmartWidget(SmartWidgetElement e, bool in, double s, std::function<void()> done) override {
        fades.push_back({e, in, s, std::move(done)});
    }
    void setSmartWidgetClickHandler(std::function<void()> h) override { tileClick = std::move(h); }
    void showProfilePopover(const std::vector<ProfileMenuTableItemModel>& rows, double h) override {
        popoverRows = rows;
        popoverHeight = h;
        popoverOpen = true;
    }
    void closeProfilePopover() override { popoverOpen = false; }
    void setProfileMenuRowBackgrounds(const std::vector<std::string>& colours) override { rowBackgrounds = colours; }
    std::vector<std::string> rowBackgrounds;
    void setProfilePopUpMenuIcons(const std::array<std::string, 4>& names) override { menuIcons = names; }
    void setNoInternetOverlayHidden(bool h) override { overlayHidden = h; }
    void refreshHandCursors() override { ++cursorRefreshes; }

    void profileButtonClick() { events->onProfileButtonClick(); }
    // Runs every pending fade-out's completion, as the animation's end would.
    void finishFades() {
        auto pending = std::move(fades);
        fades.clear();
        for (auto& f : pending) {
            if (f.done) f.done();
        }
    }
};

// A backend file that already holds its data (or none, so that it fails).
inline ParseFilePtr fileWith(const std::string& url, std::optional<std::string> data) {
    std::optional<Bytes> bytes;
    if (data) bytes = Bytes(data->begin(), data->end());
    return std::make_shared<ParseFile>(std::weak_ptr<ParseCore>{}, url, url, bytes, "image/png");
}

inline LocationsListItemPtr location(const std::string& id, const std::string& name, bool favorite = false,
                                     bool recommended = false) {
    auto item = std::make_shared<LocationsListItemModel>(id, name);
    item->isFavorite = favorite;
    item->isRecommended = recommended;
    return item;
}

struct MainWindowFixture : KitControllerFixture {
    explicit MainWindowFixture(bool enterprise = false, bool withPane = true) {
        links.linksDataObject = LinksDataObject{"https://s/support", "https://s/speed", "https://s/account",
                                                "https://s/invite", "https://s/invoices"};
        links.probeURLString = "https://probe.example/ping";
        pane->model = &model;
        model.setUseAutomaticLocation(false);
        enterprise_ = enterprise;
        withPane_ = withPane;
        controller = makeController(view, view);
        nl = location("nl", "Netherlands");
        jp = location("jp", "Japan");
        us = location("us", "United States", false, true);
        list = std::make_shared<LocationsListModel>(std::vector<LocationsListItemPtr>{nl, jp, us});
    }

    std::shared_ptr<MainWindowViewController> makeController(WindowView& window, MainWindowView& content,
                                                             LocationsWindow* locations = nullptr) {
        MainWindowEnvironment env{context, window, content, queue, queue, shell, notifications, links, probe,
                                  [this] { return wifiInfo; }, engine, images, locations ? locations : &locationsWindow,
                                  withPane_ ? std::function<std::shared_ptr<DetailsPane>()>([this] { return pane; })
                                            : std::function<std::shared_ptr<DetailsPane>()>(),
                                  enterprise_};
        return std::make_shared<MainWindowViewController>(env);
    }

    // Loads the window and hands it the list.
    void open() {
        controller->showWindow();
        controller->setupMainView(list, {});
        queue.runUntilIdle();
    }
    // Runs the main and the background queue until both are idle.
    void drain() {
        while (queue.runUntilIdle() + background.runUntilIdle() > 0) {
        }
    }
    int rowOf(const LocationsListItemPtr& item) { return *controller->tableViewModel().rowOfItem(item.get()); }

    bool enterprise_ = false;
    bool withPane_ = true;
    RecordingMainWindowView view;
    RecordingShellCommands shell;
    FakeUserNotificationCenter notifications;
    LinksManager links{model};
    std::shared_ptr<ProbeURLReachabilityHelper> probe = std::make_shared<ProbeURLReachabilityHelper>(http, queue);
    FakeWiFi wifi;
    std::shared_ptr<WiFi_InfoHelperObjC> wifiInfo = std::make_shared<WiFi_InfoHelperObjC>(wifi);
    RecordingPaneEngine engine;
    RemoteImageLoader images{queue, queue, codec};
    RecordingLocationsWindow locationsWindow;
    std::shared_ptr<RecordingDetailsPane> pane = std::make_shared<RecordingDetailsPane>();
    std::shared_ptr<MainWindowViewController> controller;
    LocationsListItemPtr nl, jp, us;
    std::shared_ptr<LocationsListModel> list;
};

}  // namespace hw::test
