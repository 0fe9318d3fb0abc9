#include "helper/ike/ike_service.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <utility>

#include "helper/esp_probe.h"
#include "helper/helper_validation.h"
#include "helper/ike/ike_alerts.h"
#include "helper/nft_ruleset.h"
#include "platform/ip_address.h"
#include "platform/log.h"

namespace hw::ike {


namespace {

constexpr const char* kCategory = "ike";
constexpr const char* kSecretId = "havenway-eap";
// No "control-log": charon sends it from the threads that run the exchange,
// before each step goes on; the plain log carries the same lines.
constexpr const char* kEvents[] = {"ike-updown", "child-updown", "log"};

bool isPrintable(const std::string& s, std::size_t max) {
    if (s.empty() || s.size() > max) return false;
    for (unsigned char c : s) {
        if (c < 0x20 || c == 0x7f) return false;
    }
    return true;
}

std::string millis(std::chrono::milliseconds ms) { return std::to_string(ms.count()); }

std::optional<std::string> resolveHost(const std::string& host) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found) return std::nullopt;
    std::optional<std::string> v4, v6;
    for (auto* a = found; a; a = a->ai_next) {
        char text[INET6_ADDRSTRLEN] = {};
        if (a->ai_family == AF_INET && !v4) {
            inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(a->ai_addr)->sin_addr, text, sizeof text);
            v4 = text;
        } else if (a->ai_family == AF_INET6 && !v6) {
            inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(a->ai_addr)->sin6_addr, text, sizeof text);
            v6 = text;
        }
    }
    freeaddrinfo(found);
    return v4 ? v4 : v6;
}

void wipe(std::string& secret) {
    volatile char* p = secret.data();
    for (std::size_t i = 0; i < secret.size(); ++i) p[i] = 0;
    secret.clear();
}

}  // namespace

struct IkeService::Session {
    IkeStartRequest request;
    std::shared_ptr<IkeChannel> channel;
    bool replaced = false;      // a newer start or a closed channel: send nothing more
    bool terminal = false;      // its one final event went out
    bool childUp = false;
    bool stopping = false;
    bool initiateDone = false;
    bool connecting = false;    // "connecting" went out
    std::optional<std::string> alert;  // the first cause charon logged
};

IkeServiceOptions defaultIkeServiceOptions() {
    IkeServiceOptions o;
    o.charon.workDir = "/run/havenway/ike";
    const char* ca = std::getenv("HAVENWAY_TEST_CA");
    o.caPath = ca && *ca ? ca : "/etc/ssl/certs/ca-certificates.crt";
    return o;
}

std::string validateIkeStart(const IkeStartRequest& r) {
    if (r.name.empty() || r.name.size() > 64) return "invalid connection name";
    for (char c : r.name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
        if (!ok) return "invalid connection name";
    }
    if (const auto problem = helper::serverProblem(r.host); !problem.empty())
        return "invalid server host name: " + problem;
    if (!r.hostIp.empty())
        if (const auto problem = helper::addressProblem(r.hostIp); !problem.empty())
            return "invalid server address: " + problem;
    if (!isPrintable(r.id, 255)) return "invalid identity";
    return {};
}

IkeService::IkeService(IkeServiceOptions options, ProcessRunner& runner)
    : options_(std::move(options)), runner_(runner) {
    if (!options_.resolve) options_.resolve = resolveHost;
    worker_ = std::thread([this] { workLoop(); });
}

IkeService::~IkeService() {
    std::shared_ptr<Session> s;
    {
        std::lock_guard lock(mutex_);
        s = current_;
        if (s) s->replaced = true;
    }
    if (s) terminate(s->request.name, true);
    {
        std::lock_guard lock(workMutex_);
        stopping_ = true;
    }
    workReady_.notify_all();
    worker_.join();  // runs what is queued first, which may start a thread
    if (connectThread_.joinable()) connectThread_.join();
    std::lock_guard lock(charonMutex_);
    if (control_) control_->close();
    if (events_) events_->close();
    charon_.reset();
}

void IkeService::post(std::function<void()> task) {
    {
        std::lock_guard lock(workMutex_);
        work_.push_back(std::move(task));
    }
    workReady_.notify_one();
}

void IkeService::workLoop() {
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock lock(workMutex_);
            workReady_.wait(lock, [this] { return stopping_ || !work_.empty(); });
            if (work_.empty()) return;
            task = std::move(work_.front());
            work_.pop_front();
        }
        task();
    }
}

std::string IkeService::start(const IkeStartRequest& request, std::shared_ptr<IkeChannel> channel) {
    if (!channel) return "no return channel";
    if (auto why = validateIkeStart(request); !why.empty()) return why;
    auto session = std::make_shared<Session>();
    session->request = request;
    session->channel = std::move(channel);
    std::shared_ptr<Session> old;
    {
        std::lock_guard lock(mutex_);
        old = current_;
        if (old) old->replaced = true;
        current_ = session;
        causeHeard_.notify_all();
    }
    log::info(kCategory, "starting IKEv2 connection to " + request.host);
    // The caller (the helper's serving thread) must not wait for an older
    // start to wind down: the worker does.
    post([this, session, old] {
        if (connectThread_.joinable()) {
            // An older start may still wait in initiate; tearing its SA down
            // releases it.
            if (old) terminate(old->request.name, true);
            connectThread_.join();
        }
        {
            std::lock_guard lock(mutex_);
            if (session->replaced) return;
        }
        connectThread_ = std::thread([this, session] { connect(session); });
    });
    return {};
}

void IkeService::stopAsync(bool forced, const IkeChannel* channel, std::function<void(std::string)> done) {
    post([this, forced, channel, done = std::move(done)] {
        auto result = stop(forced, channel);
        if (done) done(std::move(result));
    });
}

void IkeService::connect(std::shared_ptr<Session> s) {
    establish(s);
    // A close or a stop that came while the start was under way may have
    // found nothing to end yet: what the start went on to load, and the
    // charon it started, end now. A newer start has these in hand itself.
    {
        std::lock_guard lock(mutex_);
        if (!(s->replaced || s->stopping) || current_ != s) return;
    }
    post([this, s] {
        {
            std::lock_guard lock(mutex_);
            if (current_ != s) return;
        }
        terminate(s->request.name, true);
        forget(s->request.name);
        endCharonIfIdle();
    });
}

void IkeService::establish(const std::shared_ptr<Session>& s) {
    const auto& req = s->request;
    // What this start loaded goes again, and charon with it when unused.
    auto cleanUpLater = [this, name = req.name] {
        post([this, name] {
            forget(name);
            endCharonIfIdle();
        });
    };
    auto fail = [&](const std::string& why) {
        log::warning(kCategory, "IKEv2 connection failed: " + why);
        {
            std::lock_guard lock(mutex_);
            if (s->replaced || s->terminal) return;
            s->channel->sendEvent("log", "message", why);
            finishLocked(*s, "down");
        }
        cleanUpLater();
    };
    {
        std::lock_guard lock(mutex_);
        if (s->replaced) return;
    }
    std::string address = req.hostIp;
    if (address.empty()) {
        auto resolved = options_.resolve(req.host);
        // A blocking resolver answers 0.0.0.0: as good as no answer.
        if (const auto problem = resolved ? helper::addressProblem(*resolved) : std::string(); !problem.empty()) {
            log::warning(kCategory, "the server name resolves to " + problem);
            resolved.reset();
        }
        if (!resolved) {
            log::warning(kCategory, "the server name does not resolve");
            {
                std::lock_guard lock(mutex_);
                finishLocked(*s, "alert", "dns");
            }
            cleanUpLater();
            return;
        }
        address = *resolved;
    }
    {
        // A stop or a newer start may have come meanwhile: then no password.
        std::lock_guard lock(mutex_);
        if (s->replaced || s->stopping || s->terminal) return;
    }
    // Asked before charon starts: the app answers while charon does.
    auto pendingPassword = s->channel->askPassword(options_.passwordTimeout);

    std::string error;
    Setup setup;
    if (!ensureCharon(&error, &setup)) return fail(error);
    std::shared_ptr<ViciClient> events;
    {
        std::lock_guard lock(charonMutex_);
        events = events_;
    }
    // A close meanwhile may have ended the charon just started.
    if (!events) return fail("charon ended while starting");
    // Whatever an earlier start left behind goes first: one SA of this name.
    // A charon started just now holds none.
    if (!setup.batch) terminate(req.name, true);

    auto password = pendingPassword();
    {
        // Nobody wants this start any more: charon gets no secret for it.
        std::lock_guard lock(mutex_);
        if (s->replaced || s->stopping) {
            if (password) wipe(*password);
            return;
        }
    }
    if (!password) return fail("the app did not provide the password");
    if (!isPrintable(*password, 255)) {
        wipe(*password);
        return fail("the password is empty or not usable");
    }
    ViciSection secret;
    secret.set("id", kSecretId).set("type", "EAP").set("data", *password).setList("owners", {req.id});
    wipe(*password);

    ViciSection conn;
    auto& c = conn.addSection(req.name);
    c.set("version", "2").setList("remote_addrs", {address}).setList("vips", {"0.0.0.0"});
    c.set("dpd_delay", "30s").set("fragmentation", "yes").set("send_certreq", "yes");
    c.addSection("local").set("auth", "eap-mschapv2").set("id", req.id).set("eap_id", req.id);
    c.addSection("remote").set("auth", "pubkey").set("id", req.host);
    auto& child = c.addSection("children").addSection(req.name);
    child.setList("remote_ts", {"0.0.0.0/0"}).set("mode", "tunnel").set("dpd_action", "clear");
    // The kernel's ESP in UDP carries the sender's owner, not charon's: the
    // mark is what lets it past the kill switch.
    child.set("set_mark_out", std::to_string(helper::kLockMark));
    ViciSection init;
    init.set("child", req.name).set("ike", req.name).set("timeout", "0").set("init-limits", "no").set("loglevel", "-1");
    // The secret, the connection and the initiation go in one go, behind
    // charon's setup on the same connection: charon takes them in order, so
    // the initiation finds both loaded. Each answer is still checked; should
    // one fail, what the initiation began is ended.
    std::vector<ViciPacket> run{ViciClient::command("load-shared", std::move(secret)),
                                ViciClient::command("load-conn", std::move(conn)),
                                ViciClient::command("initiate", std::move(init))};
    auto running = events->send(run);
    run.clear();
    auto abandon = [&](const std::string& why) {
        terminate(req.name, true);
        fail(why);
    };
    if (!finishSetup(setup, &error)) return abandon(error);
    auto loaded = events->wait(running, std::chrono::steady_clock::now() + options_.commandTimeout, 2);
    if (!loaded[0].succeeded()) return abandon("loading the EAP secret failed: " + loaded[0].errmsg());
    if (!loaded[1].succeeded()) return abandon("loading the connection failed: " + loaded[1].errmsg());
    {
        // A stop or a newer start that came meanwhile ends the initiation
        // once it answers (below).
        std::lock_guard lock(mutex_);
        if (!(s->replaced || s->stopping || s->terminal)) announceLocked(*s, "connecting");
    }
    auto result = events->wait(running, std::chrono::steady_clock::now() + options_.initiateTimeout).back();

    bool cleanUp = false;
    {
        std::unique_lock lock(mutex_);
        // Until the cause is heard (or the wait ends) the session counts as
        // still initiating, so the IKE SA's end is not taken for the cause.
        if (!result.succeeded())
            causeHeard_.wait_for(lock, options_.causeTimeout,
                                 [&] { return s->alert || s->replaced || s->stopping || s->terminal; });
        s->initiateDone = true;
        // A stop that came while initiate was on its way may have found no
        // SA to end yet: end it now.
        cleanUp = result.succeeded() && (s->replaced || s->stopping);
    }
    if (cleanUp) terminate(req.name, true);
    {
        std::lock_guard lock(mutex_);
        if (s->replaced || s->terminal || s->stopping) return;
        if (result.succeeded() && !events->isOpen()) {
            // charon died just after its reply, while this still counted
            // as waiting in initiate: its loss told nobody.
            finishLocked(*s, "down");
            return;
        }
        if (result.succeeded()) {
            announceLocked(*s, "child_up");
            log::info(kCategory, "IKEv2 connection established");
            return;
        }
        log::warning(kCategory, "IKEv2 initiate failed: " + result.errmsg());
        if (s->alert) {
            finishLocked(*s, "alert", *s->alert);
        } else {
            s->channel->sendEvent("log", "message", result.errmsg());
            finishLocked(*s, "down");
        }
        cleanUp = true;
    }
    if (cleanUp) {
        const std::string name = req.name;
        post([this, name] {
            terminate(name, true);
            forget(name);
            endCharonIfIdle();
        });
    }
}

void IkeService::announceLocked(Session& s, const std::string& event) {
    // The app keeps a connection's channel from its "connecting" on: that
    // goes first, whichever thread hears of the tunnel first.
    if (!s.connecting) {
        s.connecting = true;
        s.channel->sendEvent("connecting");
    }
    if (event == "child_up" && !s.childUp) {
        s.childUp = true;
        s.channel->sendEvent("child_up");
    }
}

void IkeService::finishLocked(Session& s, const std::string& event, const std::string& alert) {
    if (s.replaced || s.terminal) return;
    s.terminal = true;
    if (event == "alert") {
        log::warning(kCategory, "IKEv2 alert: " + alert);
        s.channel->sendEvent("alert", "alert", alert);
    } else {
        s.channel->sendEvent(event);
    }
}

std::string IkeService::stop(bool forced, const IkeChannel* channel) {
    std::shared_ptr<Session> s;
    {
        std::lock_guard lock(mutex_);
        s = current_;
        if (!s || s->replaced) return "no active connection";
        if (channel && s->channel.get() != channel) return "not the current connection";
        s->stopping = true;
        causeHeard_.notify_all();
    }
    log::info(kCategory, forced ? "stopping the IKEv2 connection (forced)" : "stopping the IKEv2 connection");
    terminate(s->request.name, forced);
    {
        std::lock_guard lock(mutex_);
        finishLocked(*s, "down");
    }
    forget(s->request.name);
    endCharonIfIdle();
    return {};
}

void IkeService::channelClosed(const IkeChannel* channel) {
    std::shared_ptr<Session> s;
    {
        std::lock_guard lock(mutex_);
        if (!current_ || current_->channel.get() != channel || current_->replaced) return;
        if (current_->childUp && !current_->terminal && !current_->stopping) {
            // Ending it would leave a lock with no tunnel, or send the user's
            // traffic out in the open, for an app that may be back at once.
            log::info(kCategory, "the app's channel closed with the tunnel up; it is kept for the app's return");
            return;
        }
        s = current_;
        s->replaced = true;
        s->stopping = true;
    }
    log::info(kCategory, "the app's channel closed; bringing the IKEv2 connection down");
    const std::string name = s->request.name;
    post([this, name] {
        terminate(name, true);
        forget(name);
        endCharonIfIdle();
    });
}

std::string IkeService::attach(uid_t uid, std::shared_ptr<IkeChannel> channel) {
    if (!channel) return "no return channel";
    // The app's old channel ends after the lock: its end waits for its
    // reader, which may be reporting that very close here.
    std::shared_ptr<IkeChannel> previous;
    std::lock_guard lock(mutex_);
    const auto& s = current_;
    if (!s || s->replaced || s->terminal || s->stopping || !s->childUp) return "no running connection";
    if (s->request.owner != uid) {
        log::warning(kCategory, "refused: the IKEv2 connection was started for another uid");
        return "the connection belongs to another user";
    }
    previous = std::exchange(s->channel, std::move(channel));
    log::info(kCategory, "the IKEv2 connection to " + s->request.host + " handed over to a restarted app");
    s->channel->sendEvent("connecting");
    s->channel->sendEvent("child_up");
    return {};
}

void IkeService::terminate(const std::string& name, bool forced) {
    auto control = this->control();
    if (!control || !control->isOpen()) return;
    const auto wait = forced ? options_.forcedStopTimeout : options_.stopTimeout;
    ViciSection t;
    t.set("ike", name).set("force", forced ? "yes" : "no").set("timeout", millis(wait));
    auto r = control->request("terminate", t, wait + options_.commandTimeout);
    if (!r.ok) log::warning(kCategory, "terminate: " + r.error);
}

void IkeService::forget(const std::string& name) {
    auto control = this->control();
    if (!control || !control->isOpen()) return;
    ViciSection secret;
    secret.set("id", kSecretId);
    control->request("unload-shared", secret, options_.commandTimeout);
    ViciSection conn;
    conn.set("name", name);
    control->request("unload-conn", conn, options_.commandTimeout);
}

int IkeService::loadedConnectionsLocked() {
    int count = 0;
    ViciClient lister;
    lister.setEventHandler([&count](const std::string& event, const ViciSection&) {
        if (event == "list-conn") ++count;
    });
    if (!lister.connect(charon_->viciSocketPath()) || !lister.registerEvent("list-conn", options_.commandTimeout) ||
        !lister.request("list-conns", {}, options_.commandTimeout).ok)
        return -1;
    lister.close();
    return count;
}

void IkeService::endCharonIfIdle() {
    {
        std::lock_guard lock(mutex_);
        if (current_ && !current_->replaced && !current_->terminal) return;
    }
    std::lock_guard lock(charonMutex_);
    if (!charon_) return;
    std::erase_if(lent_, [](const std::weak_ptr<ViciClient>& w) {
        auto client = w.lock();
        return !client || !client->isOpen();
    });
    if (!lent_.empty()) return;
    const bool running = charon_->running();
    // A charon we cannot ask keeps running: better than cutting another user off.
    if (running && loadedConnectionsLocked() != 0) return;
    if (running) log::info(kCategory, "no IKE connection needs charon; ending it");
    if (control_) control_->close();
    if (events_) events_->close();
    control_.reset();
    events_.reset();
    charon_->stop();
    charon_.reset();
}

void IkeService::charonReleased() {
    post([this] { endCharonIfIdle(); });
}

bool IkeService::endLeftovers() {
    std::lock_guard lock(charonMutex_);
    if (charon_) return false;
    return CharonRunner(options_.charon, runner_).endLeftovers();
}

bool IkeService::charonRunning() {
    std::lock_guard lock(charonMutex_);
    return charon_ && charon_->running();
}

bool IkeService::charonUsesOwnDevice() {
    std::lock_guard lock(charonMutex_);
    return charon_ && charon_->running() && charon_->userSpaceEsp();
}

std::shared_ptr<ViciClient> IkeService::control() {
    std::lock_guard lock(charonMutex_);
    // Made at its first use, after the connect's own requests: a second
    // connection while charon starts would only hold the initiation up.
    if (!control_ && charon_ && events_ && events_->isOpen()) {
        auto client = std::make_shared<ViciClient>();
        std::string error;
        if (!client->connect(charon_->viciSocketPath(), &error)) {
            log::warning(kCategory, "second connection to charon: " + error);
            return nullptr;
        }
        control_ = std::move(client);
    }
    return control_;
}

std::shared_ptr<ViciClient> IkeService::connectToCharon(ViciClient::EventHandler handler, std::string* error) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!ensureCharon(error)) return nullptr;
        std::lock_guard lock(charonMutex_);
        // The worker ended an idle charon between the start and the lock.
        if (!charon_) continue;
        auto client = std::make_shared<ViciClient>();
        if (handler) client->setEventHandler(std::move(handler));
        if (!client->connect(charon_->viciSocketPath(), error)) return nullptr;
        lent_.push_back(client);
        return client;
    }
    if (error) *error = "charon ended while starting";
    return nullptr;
}

bool IkeService::ensureCharon(std::string* error, Setup* pending) {
    std::lock_guard lock(charonMutex_);
    if (charon_ && charon_->running() && events_ && events_->isOpen() && (!control_ || control_->isOpen())) return true;
    if (control_) control_->close();
    if (events_) events_->close();
    control_.reset();
    // The runner of a charon that died clears its traces as it goes.
    CharonOptions charon = options_.charon;
    if (charon.esp == EspBackend::Auto) {
        // The kernel's answer does not change while the helper runs: asked once.
        if (!kernelEsp_) kernelEsp_ = helper::kernelSupportsEsp(runner_);
        charon.esp = *kernelEsp_ ? EspBackend::Kernel : EspBackend::Libipsec;
    }
    charon_ = std::make_unique<CharonRunner>(charon, runner_);
    UniqueFd first;
    if (!charon_->start(error, &charonSocketChanges_, &first)) return false;
    if (charonStarted_) charonStarted_();
    events_ = std::make_shared<ViciClient>();
    events_->setEventHandler([this](const std::string& name, const ViciSection& body) { onEvent(name, body); });
    events_->setCloseHandler([this] { onCharonLost(); });
    // The connection that found charon listening is the first one charon
    // accepts: a new one would wait behind it.
    if (first ? !events_->adopt(first.release()) : !events_->connect(charon_->viciSocketPath(), error)) return false;
    // All at once: charon answers them as it finishes starting.
    std::vector<ViciPacket> setup;
    for (const char* e : kEvents) setup.push_back(ViciClient::registration(e));
    for (auto& cert : authorities()) setup.push_back(std::move(cert));
    Setup sent{events_, events_->send(setup)};
    if (pending) {
        *pending = std::move(sent);
        return true;
    }
    return finishSetup(sent, error);
}

bool IkeService::finishSetup(const Setup& setup, std::string* error) {
    if (!setup.batch) return true;
    const auto results = setup.client->wait(setup.batch, std::chrono::steady_clock::now() + options_.commandTimeout);
    int loaded = 0;
    for (std::size_t i = 0; i < results.size(); ++i) {
        if (i < std::size(kEvents) && !results[i].ok) {
            if (error) *error = results[i].error;
            // Not set up: the next start begins with a new charon.
            setup.client->close();
            return false;
        }
        if (i >= std::size(kEvents) && results[i].succeeded()) ++loaded;
    }
    if (loaded == 0) log::warning(kCategory, "no CA certificate loaded from " + options_.caPath);
    else log::info(kCategory, "loaded " + std::to_string(loaded) + " CA certificates");
    return true;
}

std::vector<ViciPacket> IkeService::authorities() const {
    std::ifstream in(options_.caPath);
    std::stringstream all;
    all << in.rdbuf();
    const std::string text = all.str();
    static const std::string kBegin = "-----BEGIN CERTIFICATE-----";
    static const std::string kEnd = "-----END CERTIFICATE-----";
    std::vector<ViciPacket> certs;
    for (std::size_t at = text.find(kBegin); at != std::string::npos; at = text.find(kBegin, at)) {
        const std::size_t end = text.find(kEnd, at);
        if (end == std::string::npos) break;
        ViciSection cert;
        cert.set("type", "X509").set("flag", "CA").set("data", text.substr(at, end + kEnd.size() - at) + "\n");
        certs.push_back(ViciClient::command("load-cert", std::move(cert)));
        at = end;
    }
    return certs;
}

void IkeService::onCharonLost() {
    log::warning(kCategory, "lost the connection to charon");
    {
        std::lock_guard lock(mutex_);
        // A start still in initiate hears of it from its failed command.
        if (current_ && current_->initiateDone) finishLocked(*current_, "down");
    }
    post([this] { endCharonIfIdle(); });
}

void IkeService::onEvent(const std::string& name, const ViciSection& body) {
    std::lock_guard lock(mutex_);
    auto s = current_;
    if (!s || s->replaced) return;
    const std::string& conn = s->request.name;
    if (name == "log") {
        const auto* msg = body.value("msg");
        if (!msg) return;
        // Socket errors are logged by threads that serve no SA; as this charon
        // serves one connection, they are ours too.
        const auto* sa = body.value("ikesa-name");
        if (sa && *sa != conn) return;
        if (!s->alert && !s->childUp && (s->alert = alertForCharonLog(*msg))) causeHeard_.notify_all();
        if (!s->terminal) s->channel->sendEvent("log", "message", *msg);
        return;
    }
    if (!body.section(conn)) return;
    const bool up = body.flag("up");
    if (name == "child-updown") {
        if (up) {
            if (!s->terminal) announceLocked(*s, "child_up");
        } else if (s->childUp && !s->terminal) {
            const bool stopping = s->stopping;
            finishLocked(*s, stopping ? "down" : "child_down");
            // Without its CHILD_SA the tunnel is useless: drop the IKE_SA too.
            if (!stopping) post([this, conn] {
                terminate(conn, true);
                forget(conn);
                endCharonIfIdle();
            });
        }
    } else if (name == "ike-updown" && !up) {
        if (!(s->childUp || s->stopping || s->initiateDone)) return;
        const bool ending = !s->terminal && !s->stopping;
        finishLocked(*s, "down");
        // The server ended it: nothing of ours asks charon to go.
        if (ending) post([this, conn] {
            forget(conn);
            endCharonIfIdle();
        });
    }
}

}  // namespace hw::ike
