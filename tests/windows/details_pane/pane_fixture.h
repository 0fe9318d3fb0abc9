#pragma once
// The details pane on a recording view, a scripted engine and a real state object.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "network/internet_reachability_helper.h"
#include "services/locations_list_item_model.h"
#include "services/vpn_parse_config.h"
#include "support/fake_application_model_ports.h"
#include "windows/details_pane/main_view_details_area_controller.h"
#include "windows/main/main_window_fixture.h"

namespace hw::test {

class RecordingDetailsView : public MainViewDetailsAreaView {
public:
    std::vector<std::string> calls;
    std::string connectTo, time, protocol;
    bool barSpinnersSpinning = false;
    std::optional<BottomBarLook> bottomBar;
    bool bottomBarCollapsed = false;
    bool detailsBoxHidden = true;
    bool changeLocationEnabled = true;
    double protocolLinkAlpha = 1.0;
    bool flagSpinning = false;
    bool connectedMarkHidden = true;
    bool overlayHidden = true;
    bool overlaySpinning = false;
    std::string overlayHeader, overlaySubheader;
    ErrorBarContent errorBar;
    bool stripHidden = false;
    std::map<PaneTopBar, bool> barHidden;
    // Slides wait here until the test ends them.
    std::vector<std::pair<std::string, std::function<void()>>> slides;
    std::optional<ServerBarLook> serverLook;
    std::optional<bool> darkMap;
    std::vector<std::pair<std::string, std::function<void()>>> fades;
    bool updateOverlayHidden = true;

    void setEvents(MainViewDetailsAreaEvents*) override {}
    void bindConnectButton(ConnectButtonModel&) override {}
    void refreshConnectButton() override {}
    void setConnectToText(const std::string& t) override { connectTo = t; }
    void setLocationName(const std::string&) override {}
    void setFlagImage(const ParseFilePtr&) override {}
    void setProtocolText(const std::string& t) override { protocol = t; }
    void setPublicIPAddressText(const std::string& text) override { publicIP = text; }
    std::string publicIP;
    void setConnectionTimeText(const std::string& t) override { time = t; }
    void setConnectionDetailsBoxHidden(bool h) override { detailsBoxHidden = h; }
    void setChangeProtocolLinkText(const std::string&) override {}
    void setChangeLocationEnabled(bool e, double a) override {
        changeLocationEnabled = e;
        protocolLinkAlpha = a;
    }
    void setConnectingXSignHidden(bool) override {}
    void setConnectButtonXSignPaddingLeft(double) override {}
    void setChangeLocationInsideButton(bool, double) override {}
    void showConnectButtonPopover(const std::string&) override {}
    void closeConnectButtonPopover() override {}
    void setFlagLoadingSpinning(bool s) override { flagSpinning = s; }
    void setFlagConnectedIndicatorHidden(bool h) override { connectedMarkHidden = h; }
    bool isAutoReconnectOverlayHidden() const override { return overlayHidden; }
    void setAutoReconnectOverlay(bool h, const std::string& header, const std::string& subheader) override {
        overlayHidden = h;
        overlayHeader = header;
        overlaySubheader = subheader;
    }
    void setAutoReconnectSpinning(bool s) override { overlaySpinning = s; }
    void setErrorBar(const ErrorBarContent& c) override { errorBar = c; }
    void setUpdateBarText(const std::string&, const std::string&) override {}
    void setTopBarStripHidden(bool h) override { stripHidden = h; }
    void slideTopBar(PaneTopBar bar, bool in, std::function<void()> done) override {
        slides.emplace_back(std::string(in ? "in:" : "out:") + std::to_string(static_cast<int>(bar)), std::move(done));
    }
    void setTopBarHidden(PaneTopBar bar, bool h) override { barHidden[bar] = h; }
    bool isTopBarHidden(PaneTopBar bar) const override {
        auto it = barHidden.find(bar);
        return it == barHidden.end() || it->second;
    }
    void setServerBarLook(const ServerBarLook& l) override { serverLook = l; }
    void setBarActivityIndicatorsSpinning(bool s) override { barSpinnersSpinning = s; }
    void setBottomBar(const std::optional<BottomBarLook>& l) override { bottomBar = l; }
    void setBottomBarCollapsed(bool c) override { bottomBarCollapsed = c; }
    void crossFadeMaps(bool dark, double) override { darkMap = dark; }
    void fadeAutoUpdateOverlay(bool in, double seconds, std::function<void()> done) override {
        fades.emplace_back(std::string(in ? "in:" : "out:") + std::to_string(seconds).substr(0, 3), std::move(done));
    }
    void setAutoUpdateOverlayHidden(bool h) override { updateOverlayHidden = h; }
    void refreshHandCursors() override {}

    // Ends every slide so far, in order.
    void finishSlides() {
        auto pending = std::move(slides);
        slides.clear();
        for (auto& [name, done] : pending)
            if (done) done();
    }
};

inline LocationsListItemPtr configuredLocation(const std::string& id, const std::string& name) {
    auto item = std::make_shared<LocationsListItemModel>(id, name);
    item->vpnConfig = std::make_shared<VPNParseConfig>();
    item->vpnConfig->dnsPrefix = id + "-1";
    item->vpnConfig->vpnServerIPAddress = "198.51.100.7";
    return item;
}

struct PaneFixture : KitControllerFixture {
    PaneFixture() {
        links.linksDataObject = LinksDataObject{"https://s/support", "https://s/speed", "https://s/account",
                                                "https://s/invite", "https://s/invoices"};
        login.data = LoginData{"demo@example.test", "s3cret", std::nullopt};
        ports.connectionManager = &manager;
        ports.loginData = &login;
        model.setPorts(ports);
        model.isLoggedInUser = true;
        model.mainDomainName = "havenway.test";
        model.vpnServersDomainSuffix = "vpn.havenway.test";
        model.setUseAutomaticLocation(false);
        nl = configuredLocation("nl", "Netherlands");
        engine.ownLife(queue, model);
        pane = makePane();
        pane->setConnectionDetailsCallbacks(callbacks());
        pane->prepareConnectionStatusNotifications();
        pane->changeDetailsView(nl);
        queue.runUntilIdle();
    }

    std::shared_ptr<MainViewDetailsAreaController> makePane() {
        MainViewDetailsEnvironment env{context, view, queue, engine, shell};
        env.links = &links;
        env.wifiInfo = [this] { return wifiInfo; };
        env.reachability = [this] { return reachability; };
        env.refreshUserIPAddress = [this](std::function<void()> done) {
            ++ipRefreshes;
            if (holdIPAnswers) heldIPAnswers.push_back(std::move(done));
            else queue.post(std::move(done));
        };
        return std::make_shared<MainViewDetailsAreaController>(std::move(env));
    }

    VPNConnectionDetailsCallbacks callbacks() {
        VPNConnectionDetailsCallbacks c;
        c.onConnectionStatusUpdatedCallback = [this](const std::string& s) { statuses.push_back(s); };
        c.onConnectButtonStateChangedCallback = [this](const std::string& s) { buttonLabels.push_back(s); };
        return c;
    }

    // The banners and events sent so far, one line each.
    std::vector<std::string> banners() const {
        std::vector<std::string> out;
        for (const auto& c : shell.calls)
            if (c.find("Banner") != std::string::npos) out.push_back(c);
        return out;
    }
    std::vector<std::string> eventNames() const {
        std::vector<std::string> out;
        for (const auto& e : events) out.push_back(e.first);
        return out;
    }
    // A click, then every posted step.
    void click() {
        pane->onConnectButtonClick();
        queue.runUntilIdle();
    }
    // Connects on the direct road and reports the tunnel up.
    void connectAndEstablish() {
        click();
        queue.advance(200);
        engine.closures.established();
        queue.runUntilIdle();
    }

    RecordingDetailsView view;
    RecordingShellCommands shell;
    RecordingPaneEngine engine;
    LinksManager links{model};
    PortJournal journal;
    FakeConnectionManager manager{journal};
    FakeLoginDataSource login;
    ApplicationModelPorts ports;
    FakeWiFi wifi;
    std::shared_ptr<WiFi_InfoHelperObjC> wifiInfo = std::make_shared<WiFi_InfoHelperObjC>(wifi);
    std::shared_ptr<InternetReachabilityHelper> reachability;
    int ipRefreshes = 0;
    bool holdIPAnswers = false;  // answers wait in heldIPAnswers until a row gives them
    std::vector<std::function<void()>> heldIPAnswers;
    std::vector<std::string> statuses, buttonLabels;
    LocationsListItemPtr nl;
    std::shared_ptr<MainViewDetailsAreaController> pane;
};

}  // namespace hw::test
