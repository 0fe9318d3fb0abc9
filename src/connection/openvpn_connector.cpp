#include "connection/openvpn_connector.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <thread>

#include "connection/openvpn_management_line.h"
#include "platform/log.h"

namespace hw {

namespace {
constexpr const char* kLog = "OpenVPNConnector";
}

struct OpenVPNConnector::Session {
    std::uint64_t id = 0;
    std::string username;
    std::string password;

    std::mutex mutex;  // fd, flags; also serialises writers
    int fd = -1;
    bool attached = false;
    bool stop = false;
    bool disconnectReported = false;  // reader thread only
    bool adopting = false;            // waits for the answer to "state"

    std::thread thread;

    // Sends everything or nothing more; false when the socket failed.
    bool sendAll(std::string_view bytes) {
        std::lock_guard lock(mutex);
        return sendLocked(bytes);
    }
    bool sendLocked(std::string_view bytes) {
        if (fd < 0) return false;
        while (!bytes.empty()) {
            ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                log::warning(kLog, "send to socket failed");
                return false;
            }
            bytes.remove_prefix(static_cast<std::size_t>(n));
        }
        return true;
    }
};

OpenVPNConnector::OpenVPNConnector(MainQueue& queue)
    : queue_(queue), self_(std::make_shared<OpenVPNConnector*>(this)) {}

OpenVPNConnector::~OpenVPNConnector() {
    *self_ = nullptr;
    stopAnswerWait();
    endSession(false);
}

void OpenVPNConnector::stopAnswerWait() {
    if (answerWaitStop_) {
        const std::uint64_t one = 1;
        if (::write(answerWaitStop_.get(), &one, sizeof one) < 0) log::warning(kLog, "cannot end the wait for openvpn");
    }
    if (answerWait_.joinable()) answerWait_.join();
    answerWaitStop_.reset();
}

void OpenVPNConnector::whenAnswered(std::chrono::milliseconds bound, std::function<void(bool answered)> answered) {
    stopAnswerWait();
    std::weak_ptr<OpenVPNConnector*> weak = self_;
    auto report = [&queue = queue_, weak, answered = std::move(answered)](bool ok) {
        queue.post([weak, answered, ok] {
            auto self = weak.lock();
            if (self && *self && answered) answered(ok);
        });
    };
    // A copy of the descriptor: the session takes the original, and the
    // copy stays valid whoever closes that one.
    UniqueFd probe(managementSocket_ ? ::fcntl(managementSocket_.get(), F_DUPFD_CLOEXEC, 0) : -1);
    UniqueFd stop(probe ? ::eventfd(0, EFD_CLOEXEC) : -1);
    if (!stop) {
        report(false);
        return;
    }
    // The thread ends before the descriptor closes (stopAnswerWait joins first).
    const int stopFd = stop.get();
    answerWaitStop_ = std::move(stop);
    answerWait_ = std::thread([probe = std::move(probe), stopFd, bound, report] {
        const auto deadline = std::chrono::steady_clock::now() + bound;
        while (true) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd fds[2] = {{probe.get(), POLLIN, 0}, {stopFd, POLLIN, 0}};
            const int n = ::poll(fds, 2, static_cast<int>(std::max<long long>(left.count(), 0)));
            if (n < 0 && errno == EINTR) continue;
            if (fds[1].revents != 0) return;  // dropped: a later wait or the end
            if (n <= 0) {
                log::warning(kLog, "openvpn's management interface did not answer in time");
                report(false);
                return;
            }
            char byte;
            const ssize_t got = ::recv(probe.get(), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
            if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            report(got > 0);
            return;
        }
    });
}

void OpenVPNConnector::setEventDelegate(OpenVPNConnectorEvents* delegate) { delegate_ = delegate; }

void OpenVPNConnector::setStatus(const Session& session, Status status) {
    std::lock_guard lock(statusMutex_);
    if (currentId_.load() == session.id) status_.store(status);
}

void OpenVPNConnector::emit(const Session& session, std::function<void(OpenVPNConnectorEvents&)> call) {
    std::weak_ptr<OpenVPNConnector*> weak = self_;
    queue_.post([weak, id = session.id, call = std::move(call)] {
        auto self = weak.lock();
        if (!self || !*self) return;
        OpenVPNConnector& c = **self;
        if (c.currentId_.load() != id || !c.delegate_) return;
        call(*c.delegate_);
    });
}

void OpenVPNConnector::connect() { start(false); }

void OpenVPNConnector::adopt() { start(true); }

void OpenVPNConnector::start(bool adopting) {
    endSession(false);
    auto session = std::make_shared<Session>();
    session->id = nextId_++;
    session->adopting = adopting;
    session->username = username_;
    session->password = password_;
    session->fd = managementSocket_.release();
    session->attached = session->fd >= 0;
    {
        std::lock_guard lock(statusMutex_);
        currentId_.store(session->id);
        status_.store(connecting);
    }
    session_ = session;
    session->thread = std::thread([this, session] { run(session); });
}

void OpenVPNConnector::disconnect() { endSession(true); }

void OpenVPNConnector::endSession(bool askOpenVPNToStop) {
    auto session = session_;
    if (!session) return;
    {
        std::lock_guard lock(session->mutex);
        if (askOpenVPNToStop && session->fd >= 0 && session->attached) session->sendLocked("signal SIGTERM\n");
        // Wakes a reader blocked in recv; the reader closes the descriptor
        // itself, so it can never read a reused one.
        if (session->fd >= 0) ::shutdown(session->fd, SHUT_RDWR);
        session->stop = true;
    }
    if (session->thread.joinable()) session->thread.join();
    if (!askOpenVPNToStop) session_.reset();
}

void OpenVPNConnector::answerPasswordRequest(const std::shared_ptr<Session>& s) {
    auto user = quoteManagementArgument(s->username);
    auto pass = quoteManagementArgument(s->password);
    if (!user || !pass) {
        // A line break would end the command and start another of the
        // sender's choosing: refuse, and let openvpn go.
        log::error(kLog, "credentials refused: a line break in the user name or password");
        emit(*s, [](OpenVPNConnectorEvents& d) { d.onError(0); });
        s->sendAll("signal SIGTERM\n");
        return;
    }
    // One write: openvpn acts on the user name at once and would otherwise
    // wait for the password's segment.
    s->sendAll("username \"Auth\" " + *user + "\npassword \"Auth\" " + *pass + "\n");
}

void OpenVPNConnector::handleAdoptedState(const std::shared_ptr<Session>& s, std::string_view line) {
    // "<time>,<state>,<detail>,<local address>,...": the one line "state" answers.
    s->adopting = false;
    std::string_view rest = line.substr(line.find(',') + 1);
    if (rest.starts_with("CONNECTED,SUCCESS,")) {
        log::info(kLog, "the running openvpn is connected: taken over");
        setStatus(*s, connected);
        emit(*s, [](OpenVPNConnectorEvents& d) { d.onConnected(); });
        return;
    }
    // Half a tunnel nobody set up is not worth keeping: it goes, and its
    // end comes as the session's end.
    log::warning(kLog, "the running openvpn is not connected: asked to stop");
    s->sendAll("signal SIGTERM\n");
}

void OpenVPNConnector::handleLine(const std::shared_ptr<Session>& s, std::string_view raw) {
    using Kind = OpenVPNLineEvent::Kind;
    std::string line = withoutPassword(sanitizeOpenVPNLine(raw), s->password);
    // The one log of every line, adopted sessions' included.
    log::info(kLog, line);
    if (s->adopting && !line.empty() && line[0] != '>' && line.find(',') != std::string::npos) {
        handleAdoptedState(s, line);
        return;
    }
    const OpenVPNLineEvent e = classifyOpenVPNLine(line);
    switch (e.kind) {
    case Kind::PasswordRequest:
        answerPasswordRequest(s);
        break;
    case Kind::Error:
        if (e.errorCode == 4) log::warning(kLog, "General ERROR occured");
        emit(*s, [code = e.errorCode](OpenVPNConnectorEvents& d) { d.onError(code); });
        break;
    case Kind::State:
        emit(*s, [state = e.state](OpenVPNConnectorEvents& d) { d.onStateChanged(state); });
        if (e.stateChange == OpenVPNLineEvent::StateChange::Connected) {
            setStatus(*s, connected);
            emit(*s, [](OpenVPNConnectorEvents& d) { d.onConnected(); });
        } else if (e.stateChange == OpenVPNLineEvent::StateChange::Reconnecting) {
            setStatus(*s, reconnecting);
            emit(*s, [](OpenVPNConnectorEvents& d) { d.onReConnected(); });
        } else if (e.stateChange == OpenVPNLineEvent::StateChange::Exiting) {
            setStatus(*s, disconnected);
            s->disconnectReported = true;
            emit(*s, [](OpenVPNConnectorEvents& d) { d.onDisconnected(); });
        }
        break;
    case Kind::Reconnecting:
        setStatus(*s, reconnecting);
        emit(*s, [](OpenVPNConnectorEvents& d) { d.onReConnected(); });
        break;
    case Kind::NotReachable:
        setStatus(*s, disconnected);
        emit(*s, [](OpenVPNConnectorEvents& d) { d.onNotReachable(); });
        break;
    case Kind::Gateway:
        log::info(kLog, "exact gateway location -- " + e.gateway);
        log::info(kLog, "Default gateway changed");
        emit(*s, [gw = e.gateway](OpenVPNConnectorEvents& d) { d.onGatewayChanged(gw); });
        break;
    case Kind::Other:
        break;
    }
    emit(*s, [line = std::move(line)](OpenVPNConnectorEvents& d) { d.onLog(line); });
}

void OpenVPNConnector::run(const std::shared_ptr<Session>& s) {
    log::info(kLog, "controlOpenVPNThread started");
    bool stopped;
    {
        std::lock_guard lock(s->mutex);
        stopped = s->stop;
    }
    if (!stopped) {
        if (!s->attached) {
            log::error(kLog, "Can't connect to openvpn socket: the helper handed over no management interface");
            setStatus(*s, disconnected);
            emit(*s, [](OpenVPNConnectorEvents& d) { d.onError(1); });
            return;
        }
        bool ok = s->sendAll(s->adopting ? "state\nstate on\nlog on\n" : "state on all\nlog on\n");
        std::string line;
        bool overlong = false;
        char buf[4096];
        while (ok) {
            int fd;
            {
                std::lock_guard lock(s->mutex);
                if (s->stop || s->fd < 0) break;
                fd = s->fd;
            }
            ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            for (ssize_t i = 0; i < n; ++i) {
                if (buf[i] == '\n') {
                    handleLine(s, line);
                    line.clear();
                    overlong = false;
                } else if (line.size() < kOpenVPNMaxLineBytes) {
                    line += buf[i];
                } else if (!overlong) {
                    overlong = true;
                    log::warning(kLog, "management line longer than " + std::to_string(kOpenVPNMaxLineBytes) +
                                           " bytes; the rest is dropped");
                }
            }
        }
    }
    {
        std::lock_guard lock(s->mutex);
        if (s->fd >= 0) ::close(s->fd);
        s->fd = -1;
        s->attached = false;
    }
    log::info(kLog, "controlOpenVPNThread stopped");
    if (!s->disconnectReported) emit(*s, [](OpenVPNConnectorEvents& d) { d.onDisconnected(); });
    setStatus(*s, disconnected);
}

}  // namespace hw
