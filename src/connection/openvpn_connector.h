#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "connection/openvpn_connector_events.h"
#include "platform/helper_message.h"
#include "platform/main_queue.h"

namespace hw {

// The app's end of openvpn's management interface. The helper connects to
// the interface of the openvpn it started, proves that openvpn its own, and
// hands the connected descriptor over; the connector never dials anything
// itself, so credentials go only to that openvpn. Each connect() starts one
// session on a thread of its own on the descriptor handed over last: it
// switches state and log reporting on, answers the password request and
// turns openvpn's lines into events for the delegate, posted to the main
// queue in order. Events of a session that a later connect() replaced are
// dropped.
class OpenVPNConnector {
public:
    enum Status : std::int32_t { disconnected = 0, connecting = 1, connected = 2, reconnecting = 3 };

    explicit OpenVPNConnector(MainQueue& queue);
    ~OpenVPNConnector();
    OpenVPNConnector(const OpenVPNConnector&) = delete;
    OpenVPNConnector& operator=(const OpenVPNConnector&) = delete;

    // Not owned; must outlive the connector or be reset first.
    void setEventDelegate(OpenVPNConnectorEvents* delegate);

    const std::string& configPath() const { return configPath_; }
    void setConfigPath(std::string path) { configPath_ = std::move(path); }
    const std::string& username() const { return username_; }
    void setUsername(std::string value) { username_ = std::move(value); }
    const std::string& password() const { return password_; }
    void setPassword(std::string value) { password_ = std::move(value); }
    // The management interface the helper handed over; the next connect()
    // takes it. A descriptor not yet taken is replaced (and closed).
    void setManagementSocket(UniqueFd socket) { managementSocket_ = std::move(socket); }

    // Waits, off the main thread, until openvpn answers on the handed-over
    // interface (its greeting; peeked, so the session still reads it), then
    // posts answered(true); answered(false) when it ended, there is none, or
    // nothing came within `bound`. A later wait, or the connector's end,
    // drops this one unanswered.
    void whenAnswered(std::chrono::milliseconds bound, std::function<void(bool answered)> answered);
    // Starts a session with the credentials as they are now; without a
    // handed-over descriptor it ends at once in error 1.
    void connect();
    // Takes over an openvpn that runs already (the app restarted): asks its
    // state first and reports onConnected only when it is connected; any
    // other state asks it to stop, which ends the session.
    void adopt();
    // Asks openvpn to stop ("signal SIGTERM") when the session is attached,
    // then ends the session; its end arrives as onDisconnected.
    void disconnect();
    std::int32_t getConnectionStatus() const { return status_.load(); }

private:
    struct Session;
    void run(const std::shared_ptr<Session>& session);
    void handleLine(const std::shared_ptr<Session>& session, std::string_view raw);
    void answerPasswordRequest(const std::shared_ptr<Session>& session);
    void setStatus(const Session& session, Status status);
    void emit(const Session& session, std::function<void(OpenVPNConnectorEvents&)> call);
    void endSession(bool askOpenVPNToStop);
    void start(bool adopting);
    void handleAdoptedState(const std::shared_ptr<Session>& session, std::string_view line);
    void stopAnswerWait();

    MainQueue& queue_;
    UniqueFd managementSocket_;
    OpenVPNConnectorEvents* delegate_ = nullptr;
    std::string configPath_;
    std::string username_;
    std::string password_;

    std::atomic<std::int32_t> status_{disconnected};
    std::mutex statusMutex_;
    std::atomic<std::uint64_t> currentId_{0};
    std::uint64_t nextId_ = 1;
    std::shared_ptr<Session> session_;
    std::thread answerWait_;
    UniqueFd answerWaitStop_;  // an eventfd: a count written here ends the wait
    // Posted events check it: the connector may be gone when they run.
    std::shared_ptr<OpenVPNConnector*> self_;
};

}  // namespace hw
