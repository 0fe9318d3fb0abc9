#include <gtest/gtest.h>

#include <map>

#include "connection/platform_ikev2_providers.h"

namespace hw::test {
namespace {

// The system's profile store in memory; completions run when the test says.
class FakeProfileManager final : public PlatformVPNManager {
public:
    void loadFromPreferences(Completion c) override {
        calls.push_back("load");
        pending.push_back([this, c] {
            if (!loadError) protocol_ = saved_;
            c(loadError);
        });
    }
    void saveToPreferences(Completion c) override {
        calls.push_back("save");
        pending.push_back([this, c] {
            if (!saveError) {
                saved_ = protocol_;
                if (status == PlatformVPNStatus::invalid) status = PlatformVPNStatus::disconnected;
            }
            c(saveError);
        });
    }
    void removeFromPreferences(Completion c) override {
        calls.push_back("remove");
        pending.push_back([this, c] {
            saved_.reset();
            c(removeError);
        });
    }
    const std::optional<PlatformVPNProtocol>& protocol() const override { return protocol_; }
    void setProtocol(std::optional<PlatformVPNProtocol> p) override { protocol_ = std::move(p); }
    void setLocalizedDescription(const std::string& d) override { description = d; }
    void setEnabled(bool e) override { enabled = e; }
    PlatformVPNStatus connectionStatus() const override { return status; }
    std::optional<PlatformVPNError> startVPNTunnel(const std::optional<PlatformVPNStartOptions>& o) override {
        calls.push_back("start");
        startOptions = o;
        return std::nullopt;
    }
    void stopVPNTunnel() override { calls.push_back("stop"); }
    void addStatusObserver(const void* token, std::function<void()> f) override { observers[token] = std::move(f); }
    void removeStatusObserver(const void* token) override { observers.erase(token); }

    void post(PlatformVPNStatus s) {
        status = s;
        auto copy = observers;
        for (auto& [_, f] : copy) f();
    }
    void runPending() {
        while (!pending.empty()) {
            auto f = pending.front();
            pending.erase(pending.begin());
            f();
        }
    }
    void storeProfile(PlatformVPNProtocol p) {
        saved_ = std::move(p);
        status = PlatformVPNStatus::disconnected;
    }

    std::vector<std::string> calls;
    std::vector<std::function<void()>> pending;
    std::optional<PlatformVPNError> loadError, saveError, removeError;
    PlatformVPNStatus status = PlatformVPNStatus::invalid;
    std::string description;
    bool enabled = false;
    std::optional<PlatformVPNStartOptions> startOptions;
    std::map<const void*, std::function<void()>> observers;

private:
    std::optional<PlatformVPNProtocol> protocol_, saved_;
};

class FakePlatformContext final : public PlatformIKEv2Context {
public:
    std::string appProductName() const override { return "Havenway"; }
    std::string vpnServersDomainSuffix() const override { return "vpn.example.net"; }
    bool isInWaitingForVPNProfileInstallUserAction() const override { return waiting; }
    std::string resourcesDirectory() const override { return "/nonexistent"; }
    bool waiting = false;
};

class PlatformIKEv2 : public ::testing::Test {
protected:
    static ManagerServerConfig server() {
        ManagerServerConfig c;
        c.dnsPrefix = "de1";
        c.username = "alice";
        c.password = "s3cret-pass";
        c.passwordReference = "ref-1";
        return c;
    }
    FakeProfileManager platform;
    FakePlatformContext context;
    IKEv2_VPNConnectionProvider provider{platform, context};
};

// Each row: what the platform holds before prepare, and what it is asked.
TEST_F(PlatformIKEv2, PrepareByProfileState) {
    struct Case {
        const char* name;
        bool stored, connected, waiting, saveFails;
        std::vector<std::string> calls;
        int starts;
    };
    for (const Case& c : {Case{"none", false, false, false, false, {"load", "save", "load", "start"}, 1},
                          Case{"stored", true, false, false, false, {"load", "save", "load", "start"}, 1},
                          Case{"connected", true, true, false, false, {"load"}, 0},
                          Case{"waitingForInstall", false, false, true, false, {"load", "save"}, 0},
                          Case{"saveFails", false, false, false, true, {"load", "save"}, 0}}) {
        SCOPED_TRACE(c.name);
        FakeProfileManager pm;
        FakePlatformContext ctx;
        ctx.waiting = c.waiting;
        IKEv2_VPNConnectionProvider p{pm, ctx};
        PlatformVPNProtocol profile;
        profile.kind = PlatformVPNProtocolKind::IKEv2;
        if (c.stored) pm.storeProfile(profile);
        if (c.connected) pm.status = PlatformVPNStatus::connected;
        if (c.saveFails) pm.saveError = PlatformVPNError{"denied", "NEVPNErrorDomain", 5};
        int starts = 0;
        p.prepare(server(), [&] { ++starts; });
        pm.runPending();
        EXPECT_EQ(pm.calls, c.calls);
        EXPECT_EQ(starts, c.starts);
        EXPECT_FALSE(p.configurationSavingIsInProgress());
        if (c.stored || c.starts == 0) continue;  // a stored profile is kept as it is
        ASSERT_TRUE(pm.protocol());
        EXPECT_EQ(pm.protocol()->serverAddress, "de1.vpn.example.net");
        EXPECT_EQ(pm.protocol()->passwordReference, "ref-1");
        EXPECT_EQ(pm.protocol()->serverCertificateCommonName, "*.vpn.example.net");
        EXPECT_TRUE(pm.enabled);
        EXPECT_EQ(pm.startOptions->password, "s3cret-pass");
    }
}

TEST_F(PlatformIKEv2, StatusIsReportedOnlyOnChangesAndReassertingCountsAsDown) {
    std::vector<std::int32_t> seen;
    provider.retrieveConnectionAndSubscribeToStatusUpdates(
        "x", [&](std::int32_t s, const std::optional<std::string>&, VPNTypes) { seen.push_back(s); }, false);
    for (auto s : {PlatformVPNStatus::connecting, PlatformVPNStatus::connected, PlatformVPNStatus::reasserting,
                   PlatformVPNStatus::disconnecting, PlatformVPNStatus::disconnected, PlatformVPNStatus::invalid})
        platform.post(s);
    EXPECT_EQ(seen, (std::vector<std::int32_t>{1, 2, 0, 3, 0, -1}));
    provider.stopConnectionStatusUpdates();
    platform.post(PlatformVPNStatus::connected);
    EXPECT_EQ(seen.size(), 6u);
}

}  // namespace
}  // namespace hw::test
