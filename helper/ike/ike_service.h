#pragma once
#include <sys/types.h>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "helper/ike/charon_runner.h"
#include "helper/ike/vici_client.h"

namespace hw::ike {

// The return channel of one start, as the service sees it. Implementations
// must accept calls from any thread.
class IkeChannel {
public:
    virtual ~IkeChannel() = default;
    // "connecting", "child_up", "down", "child_down"; "log" with "message";
    // "alert" with "alert".
    virtual void sendEvent(const std::string& event, const std::string& key = {}, const std::string& value = {}) = 0;
    // Asks the app that created this channel for the EAP secret; blocks,
    // bounded. None when the app does not answer.
    virtual std::optional<std::string> requestPassword(std::chrono::milliseconds timeout) = 0;
    // The same in two steps: asks now, and answers through the returned
    // call, which blocks until the answer or `timeout` after the question.
    using PendingPassword = std::function<std::optional<std::string>()>;
    virtual PendingPassword askPassword(std::chrono::milliseconds timeout) {
        return [answer = requestPassword(timeout)] { return answer; };
    }
};

struct IkeStartRequest {
    std::string name;    // the connection name
    std::string host;    // the server's host name: its certificate identity
    std::string hostIp;  // optional address; else the host name is resolved
    std::string id;      // the EAP identity
    uid_t owner = 0;     // who asked for it: only they may take it over
};

struct IkeServiceOptions {
    CharonOptions charon;
    // PEM bundle of trusted CAs; the test CA through HAVENWAY_TEST_CA.
    std::string caPath;
    // Resolves a host name to an address; none when it does not resolve.
    std::function<std::optional<std::string>(const std::string& host)> resolve;
    std::chrono::milliseconds passwordTimeout{10000};
    std::chrono::milliseconds commandTimeout{10000};
    std::chrono::milliseconds initiateTimeout{120000};
    // How long a failed initiation waits for charon's line about its cause,
    // which comes as a log event and may trail the answer.
    std::chrono::milliseconds causeTimeout{250};
    std::chrono::milliseconds stopTimeout{5000};
    std::chrono::milliseconds forcedStopTimeout{1500};
};

IkeServiceOptions defaultIkeServiceOptions();

// Checks a start request as it arrives over the helper socket; answers the
// reason it is refused, or empty.
std::string validateIkeStart(const IkeStartRequest& request);

// The helper's IKE service: one connection at a time through its own charon,
// which runs only while some connection needs it.
class IkeService {
public:
    IkeService(IkeServiceOptions options, ProcessRunner& runner);
    ~IkeService();
    IkeService(const IkeService&) = delete;
    IkeService& operator=(const IkeService&) = delete;

    // Answers at once with an error text (empty: accepted); the connection
    // then proceeds in the background and reports on the channel. A newer
    // start replaces the older one, whose channel hears nothing more.
    std::string start(const IkeStartRequest& request, std::shared_ptr<IkeChannel> channel);
    // Blocks (bounded) until the SA is gone. Answers an error text or empty.
    std::string stop(bool forced, const IkeChannel* channel = nullptr);
    // The same on the service's worker; done runs there.
    void stopAsync(bool forced, const IkeChannel* channel, std::function<void(std::string)> done);
    // The app's end of this channel went away: bring its connection down,
    // unless its tunnel is up (the app crashed; a restarted one takes it
    // over). Not to be called from inside IkeChannel::sendEvent.
    void channelClosed(const IkeChannel* channel);
    // The tunnel that runs, up and left by its app, reports on this channel
    // from now on (it hears "connecting" and "child_up" at once). An error
    // text, or empty.
    std::string attach(uid_t uid, std::shared_ptr<IkeChannel> channel);
    // A VICI connection of its own to this service's charon, started if need
    // be: other users of the one IKE daemon (L2TP's transport mode) go
    // through it. handler receives the events it registers.
    std::shared_ptr<ViciClient> connectToCharon(ViciClient::EventHandler handler, std::string* error);
    // A user of connectToCharon is done: charon ends once nothing needs it.
    void charonReleased();
    // Ends a charon an earlier helper left behind, and its traces; before
    // the first start. True when there was one.
    bool endLeftovers();
    // Whether our charon runs now (tests, diagnostics).
    bool charonRunning();
    // Whether the charon that runs does ESP in user space (its own device).
    bool charonUsesOwnDevice();
    // Called (on whatever thread started it) each time a charon has started.
    void setCharonStarted(std::function<void()> started) { charonStarted_ = std::move(started); }

private:
    struct Session;
    void connect(std::shared_ptr<Session> session);
    void establish(const std::shared_ptr<Session>& session);
    // What a charon just started was sent: the event registrations and the
    // authorities, on the events connection, answers still to come.
    struct Setup {
        std::shared_ptr<ViciClient> client;
        std::shared_ptr<ViciClient::Batch> batch;
    };
    // Starts charon unless one runs and connects to it. A charon started
    // here gets its setup; with `pending` the caller checks it (finishSetup)
    // and may send more behind it meanwhile, else it is checked here.
    bool ensureCharon(std::string* error, Setup* pending = nullptr);
    bool finishSetup(const Setup& setup, std::string* error);
    std::vector<ViciPacket> authorities() const;
    void onEvent(const std::string& name, const ViciSection& body);
    void onCharonLost();
    // Sends the one terminal event of a session ("down", "child_down" or an
    // alert) unless it was sent or the session was replaced. Lock held.
    void finishLocked(Session& session, const std::string& event, const std::string& alert = {});
    // "connecting" once, then "child_up" once when that is the event. Lock held.
    void announceLocked(Session& session, const std::string& event);
    void terminate(const std::string& name, bool forced);
    // Unloads the session's secret and connection from charon.
    void forget(const std::string& name);
    // Ends charon when no session, no lent client and no loaded connection
    // needs it, or clears the traces of one that died.
    void endCharonIfIdle();
    int loadedConnectionsLocked();
    void post(std::function<void()> task);
    void workLoop();

    IkeServiceOptions options_;
    ProcessRunner& runner_;
    std::mutex charonMutex_;  // guards the runner, the lent clients and (re)connecting the clients
    std::function<void()> charonStarted_;
    std::unique_ptr<CharonRunner> charon_;
    std::optional<bool> kernelEsp_;  // the kernel's ESP, once asked
    UniqueFd charonSocketChanges_;   // kept: closing one waits for the kernel
    std::vector<std::weak_ptr<ViciClient>> lent_;  // handed out by connectToCharon
    std::shared_ptr<ViciClient> events_;   // events, and the long initiate
    std::shared_ptr<ViciClient> control_;  // everything else
    std::shared_ptr<ViciClient> control();

    std::mutex mutex_;
    std::condition_variable causeHeard_;  // a session's alert was set, or it ended
    std::shared_ptr<Session> current_;
    std::thread connectThread_;

    std::mutex workMutex_;
    std::condition_variable workReady_;
    std::deque<std::function<void()>> work_;
    bool stopping_ = false;
    std::thread worker_;
};

}  // namespace hw::ike
