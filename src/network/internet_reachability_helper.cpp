#include "network/internet_reachability_helper.h"

#include <algorithm>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "network/host_name.h"
#include "platform/ip_address.h"
#include "platform/log.h"

namespace hw {

namespace {

struct Target {
    std::string host;
    bool numeric = false;
};

// What a report is about; a new report goes out only when this changes.
struct Snapshot {
    bool reachable = false;
    WiFiLook wifi;
    std::optional<std::string> wayOut;
    bool operator==(const Snapshot&) const = default;
};

constexpr double kRelookFirstMs = 1000;
constexpr double kRelookCapMs = 8000;
// For a service not on the bus whose return nothing announces: an idle
// application wakes no more than once a minute for it.
constexpr double kRelookAbsentCapMs = 60000;

struct Evaluation {
    Snapshot snapshot;
    std::vector<std::string> resolved;  // empty when resolution failed
    WiFiLook wifi;  // asked even when nothing is reachable
};

}  // namespace

struct InternetReachabilityHelper::Impl : std::enable_shared_from_this<Impl> {
    explicit Impl(Ports p) : ports(std::move(p)) {}

    Ports ports;

    // Shared with any thread.
    mutable std::mutex mutex;
    std::vector<Observer> reachable, unreachable, insecure, connected, routesChanged;
    bool inProgress = false;
    std::uint64_t generation = 0;

    // Main queue only.
    std::uint64_t active = 0;  // generation whose watch runs
    std::uint64_t inFlight = 0;
    bool dirty = false;
    Target target;
    std::vector<std::string> lastAddresses;
    std::optional<Snapshot> lastReport;
    std::unique_ptr<Timer> settle;
    bool kernelPending = false;  // the settling burst holds a kernel event
    bool wifiWatched = false;    // the Wi-Fi's service announces its changes
    // While the Wi-Fi's security is unknown nothing else may tell when the
    // Wi-Fi service answers again: it is asked again, less and less often.
    std::unique_ptr<Timer> relook;
    int relookStep = 0;

    void add(std::vector<Observer>& list, Observer o) {
        if (!o) return;
        std::lock_guard lock(mutex);
        list.push_back(std::move(o));
    }

    bool current(std::uint64_t gen) const {
        std::lock_guard lock(mutex);
        return inProgress && gen == generation;
    }

    void start(Target t) {
        std::uint64_t gen;
        {
            std::lock_guard lock(mutex);
            if (inProgress) return;
            inProgress = true;
            gen = ++generation;
        }
        std::weak_ptr<Impl> weak = shared_from_this();
        ports.main.post([weak, gen, t = std::move(t)] {
            if (auto self = weak.lock()) self->begin(gen, t);
        });
    }

    void stop() {
        std::uint64_t gen;
        {
            std::lock_guard lock(mutex);
            inProgress = false;
            gen = ++generation;
        }
        std::weak_ptr<Impl> weak = shared_from_this();
        ports.main.post([weak, gen] {
            if (auto self = weak.lock()) self->end(gen);
        });
    }

    void begin(std::uint64_t gen, const Target& t) {
        if (!current(gen)) return;
        active = gen;
        target = t;
        lastAddresses.clear();
        lastReport.reset();
        settle.reset();
        kernelPending = false;
        relook.reset();
        relookStep = 0;
        dirty = false;
        std::weak_ptr<Impl> weak = shared_from_this();
        ports.routes.start([weak, gen] {
            if (auto self = weak.lock()) self->kernelChanged(gen);
        });
        // NetworkManager may change its access point with no kernel event at
        // all: what it says is a second source of changes.
        wifiWatched = ports.wifiInfo.startWatch([weak, gen] {
            if (auto self = weak.lock()) self->settleThenLook(gen);
        });
        evaluate(gen);
    }

    // A stop issued before a newer start must not end that start's watch.
    void end(std::uint64_t gen) {
        if (active == 0 || active > gen) return;
        active = 0;
        settle.reset();
        relook.reset();
        ports.routes.stop();
        stopWiFiWatch();
    }

    void stopWiFiWatch() {
        if (wifiWatched) ports.wifiInfo.stopWatch();
        wifiWatched = false;
    }

    void kernelChanged(std::uint64_t gen) {
        if (gen != active) return;
        kernelPending = true;
        settleThenLook(gen);
    }

    // A burst of NetworkManager's changes alone keeps the addresses last
    // resolved and tells nobody of routes.
    void settleThenLook(std::uint64_t gen) {
        if (gen != active || settle) return;
        std::weak_ptr<Impl> weak = shared_from_this();
        settle = ports.main.startTimer(kSettleMs, false, [weak, gen] {
            auto self = weak.lock();
            if (!self) return;
            self->settle.reset();
            const bool kernel = std::exchange(self->kernelPending, false);
            self->evaluate(gen, !kernel);
            if (kernel) self->call(self->routesChanged);
        });
    }

    // wifiOnly: the addresses last resolved stand; only the Wi-Fi is asked.
    void evaluate(std::uint64_t gen, bool wifiOnly = false) {
        if (gen != active || !current(gen)) return;
        if (inFlight == gen) {
            dirty = true;  // look again once the running look is done
            return;
        }
        inFlight = gen;
        dirty = false;
        std::weak_ptr<Impl> weak = shared_from_this();
        ports.background.async([weak, gen, wifiOnly, t = target, cached = lastAddresses] {
            auto self = weak.lock();
            if (!self) return;
            auto result = self->look(t, cached, wifiOnly, [&] {
                self->ports.main.post([weak, gen] {
                    if (auto s = weak.lock()) s->lostOnTheWay(gen);
                });
            });
            self->ports.main.post([weak, gen, result = std::move(result)] {
                if (auto s = weak.lock()) s->complete(gen, result);
            });
        });
    }

    // Runs on the background queue: every call here may block. `lost` is
    // told at once when the addresses last resolved have no way left.
    template <typename Lost>
    Evaluation look(const Target& t, const std::vector<std::string>& cached, bool wifiOnly, Lost lost) {
        Evaluation e;
        // A link gone takes the resolver's way too: resolving would only time
        // out, many seconds on, while the window goes on saying connected.
        if (!t.numeric && !cached.empty() && !ports.routes.hasRoute(cached)) lost();
        if (t.numeric) e.resolved = {t.host};
        else if (!wifiOnly || cached.empty()) e.resolved = ports.resolver.resolve(t.host);
        // A resolver that fails while routes still work (a DNS hiccup as a
        // tunnel comes up) must not read as a lost internet: fall back to
        // the addresses last resolved.
        const auto& addresses = e.resolved.empty() ? cached : e.resolved;
        e.snapshot.reachable = !addresses.empty() && ports.routes.hasRoute(addresses);
        e.wifi = ports.wifiInfo.currentNetwork();
        if (e.snapshot.reachable) {
            e.snapshot.wifi = e.wifi;
            e.snapshot.wayOut = ports.routes.wayOut();
        }
        return e;
    }

    // Reported before the look ends; its end reports again only if it differs.
    void lostOnTheWay(std::uint64_t gen) {
        if (gen != active || !current(gen)) return;
        const Snapshot unreachable;
        if (lastReport && *lastReport == unreachable) return;
        lastReport = unreachable;
        report(unreachable);
    }

    void complete(std::uint64_t gen, const Evaluation& e) {
        if (inFlight == gen) inFlight = 0;
        if (gen != active || !current(gen)) return;
        if (!e.resolved.empty()) lastAddresses = e.resolved;
        // Wi-Fi turned off takes the way out with it when nothing else leads
        // out: that spell counts all the same. Only its absence is noted: an
        // SSID seen before the network is back is the report's to compare.
        if (!e.snapshot.reachable && e.wifi.answered && !e.wifi.network) ports.wifiInfo.noteNetworkSeen(e.wifi);
        if (!lastReport || *lastReport != e.snapshot) {
            lastReport = e.snapshot;
            report(e.snapshot);
        }
        // A service gone from the bus announces its return: asking would only
        // wake the application for nothing.
        if (e.snapshot.reachable && !e.snapshot.wifi.answered && !(wifiWatched && e.snapshot.wifi.absent)) {
            scheduleRelook(gen, e.snapshot.wifi.absent);
        } else {
            relook.reset();
            relookStep = 0;
        }
        if (dirty) evaluate(gen);
    }

    void scheduleRelook(std::uint64_t gen, bool absent) {
        if (relook) return;
        const double ms =
            std::min(kRelookFirstMs * (1 << std::min(relookStep, 8)), absent ? kRelookAbsentCapMs : kRelookCapMs);
        ++relookStep;
        std::weak_ptr<Impl> weak = shared_from_this();
        relook = ports.main.startTimer(ms, false, [weak, gen] {
            auto self = weak.lock();
            if (!self) return;
            self->relook.reset();
            self->evaluate(gen, true);
        });
    }

    void report(const Snapshot& s) {
        if (!s.reachable) {
            log::info("reachability", "watched host is not reachable");
            call(unreachable);
            return;
        }
        log::info("reachability", !s.wifi.answered ? "watched host is reachable; whether over Wi-Fi is unknown"
                                  : s.wifi.network ? "watched host is reachable over Wi-Fi"
                                                   : "watched host is reachable");
        if (!s.wifi.answered)
            log::warning("reachability",
                         "NetworkManager is absent, late or erring: the Wi-Fi's security is unknown, and nothing is "
                         "started or ended for it until it answers");
        if (!s.wifi.answered && s.wifi.absent && wifiWatched)
            log::info("reachability", "NetworkManager is not on the bus: its return is awaited, not asked for");
        const bool toProtect = s.wifi.network && ports.policy.isInsecureAndUntrusted(*s.wifi.network);
        ports.wifiInfo.noteNetworkSeen(s.wifi, s.wayOut, toProtect);
        call(reachable);
        if (toProtect) {
            log::info("reachability",
                      "Wi-Fi network \"" + printableSSID(s.wifi.network->ssid) + "\" is insecure and not trusted");
            call(insecure);
        } else {
            call(connected);
        }
    }

    void call(const std::vector<Observer>& list) {
        std::vector<Observer> copy;
        {
            std::lock_guard lock(mutex);
            copy = list;
        }
        for (const auto& o : copy) o();
    }
};

InternetReachabilityHelper::InternetReachabilityHelper(Ports ports) : impl_(std::make_shared<Impl>(std::move(ports))) {}

InternetReachabilityHelper::~InternetReachabilityHelper() {
    if (impl_->active == 0) return;
    impl_->ports.routes.stop();
    impl_->stopWiFiWatch();
}

void InternetReachabilityHelper::addOnInternetReachableObserver(Observer o) { impl_->add(impl_->reachable, std::move(o)); }
void InternetReachabilityHelper::addOnInternetNotReachableObserver(Observer o) { impl_->add(impl_->unreachable, std::move(o)); }
void InternetReachabilityHelper::addOnWiFiConnectionINSECUREObserver(Observer o) { impl_->add(impl_->insecure, std::move(o)); }
void InternetReachabilityHelper::addOnConnectedToWiFiNetworkObserver(Observer o) { impl_->add(impl_->connected, std::move(o)); }
void InternetReachabilityHelper::addOnRoutesChangedObserver(Observer o) { impl_->add(impl_->routesChanged, std::move(o)); }

void InternetReachabilityHelper::clearOnWiFiConnectionINSECUREObservers() {
    std::lock_guard lock(impl_->mutex);
    impl_->insecure.clear();
}

void InternetReachabilityHelper::clearAllObservers() {
    std::lock_guard lock(impl_->mutex);
    impl_->reachable.clear();
    impl_->unreachable.clear();
    impl_->connected.clear();
    impl_->routesChanged.clear();
}

void InternetReachabilityHelper::reach(const std::string& host) {
    if (isIPAddress(host)) {
        impl_->start({host, true});
        return;
    }
    if (!isValidHostName(host)) {
        log::warning("reachability", "not watching: the host is not a valid host name");
        return;
    }
    // The configured domain may carry a port; reachability is the host's.
    auto name = host.substr(0, host.rfind(':'));
    impl_->start({name, isIPAddress(name)});
}

void InternetReachabilityHelper::reachByIP(const std::string& address) {
    if (!isIPAddress(address)) {
        log::warning("reachability", "not watching: the address is not numeric");
        return;
    }
    impl_->start({address, true});
}

void InternetReachabilityHelper::stopReachability() { impl_->stop(); }

bool InternetReachabilityHelper::checkInProgress() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->inProgress;
}

std::optional<bool> InternetReachabilityHelper::internetReachable() const {
    if (impl_->active == 0 || !impl_->current(impl_->active) || !impl_->lastReport) return std::nullopt;
    return impl_->lastReport->reachable;
}

bool InternetReachabilityHelper::hasRoute(const std::string& address) {
    return isIPAddress(address) && impl_->ports.routes.hasRoute({address});
}

WiFi_InfoHelperObjC& InternetReachabilityHelper::getWiFi_InfoHelper() { return impl_->ports.wifiInfo; }

}  // namespace hw
