#include "helper/ike/ike_helper_channel.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "platform/helper_socket.h"
#include "platform/log.h"

namespace hw::ike {

namespace {

constexpr const char* kCategory = "ike";

HelperMessage refusal(const std::string& why) { return {{"reply", helper::kNo}, {"error", why}}; }

}  // namespace

IkeHelperChannel::IkeHelperChannel(UniqueFd channel, Handlers handlers) : state_(std::make_shared<State>()) {
    state_->fd = std::move(channel);
    state_->handlers = std::move(handlers);
    state_->owner = this;
    int p[2];
    if (::pipe2(p, O_CLOEXEC | O_NONBLOCK) == 0) {
        state_->wakeRead.reset(p[0]);
        state_->wakeWrite.reset(p[1]);
    }
    reader_ = std::thread([state = state_] { readLoop(state); });
}

IkeHelperChannel::~IkeHelperChannel() {
    state_->ending = true;
    state_->broken = true;
    if (state_->wakeWrite) {
        const char b = 1;
        [[maybe_unused]] auto n = ::write(state_->wakeWrite.get(), &b, 1);
    }
    if (!reader_.joinable()) return;
    // Ending inside one of our own handlers: the reader leaves right after.
    if (reader_.get_id() == std::this_thread::get_id()) reader_.detach();
    else reader_.join();
}

void IkeHelperChannel::sendEvent(const std::string& event, const std::string& key, const std::string& value) {
    if (state_->broken) return;
    HelperMessage m{{"type", "event"}, {"event", event}};
    if (!key.empty()) m[key] = value;
    std::lock_guard lock(state_->sendMutex);
    std::string error;
    if (!sendHelperMessage(state_->fd.get(), m, -1, kSendTimeoutMs, &error)) {
        // The reader sees the app go away and reports it; stop talking.
        log::warning(kCategory, "event to the app failed: " + error);
        state_->broken = true;
    }
}

std::optional<std::string> IkeHelperChannel::requestPassword(std::chrono::milliseconds timeout) {
    return askPassword(timeout)();
}

IkeChannel::PendingPassword IkeHelperChannel::askPassword(std::chrono::milliseconds timeout) {
    auto none = []() -> std::optional<std::string> { return std::nullopt; };
    if (state_->broken) return none;
    auto [mine, theirs] = makeHelperSocketPair();
    if (!mine) return none;
    std::string error;
    {
        std::lock_guard lock(state_->sendMutex);
        if (!sendHelperMessage(state_->fd.get(), {{"type", "rpc"}, {"rpc", "get_password"}}, theirs.get(),
                               kSendTimeoutMs, &error)) {
            state_->broken = true;
            return none;
        }
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    return [answerFd = std::make_shared<UniqueFd>(std::move(mine)), deadline]() -> std::optional<std::string> {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        std::string error;
        auto answer = receiveHelperMessage(answerFd->get(), static_cast<int>(std::max<std::int64_t>(0, left.count())), &error);
        if (!answer) return std::nullopt;
        const std::string* password = helperString(answer->message, "password");
        if (!password) return std::nullopt;
        return *password;
    };
}

void IkeHelperChannel::readLoop(std::shared_ptr<State> st) {
    HelperFrameReader reader;
    for (;;) {
        pollfd fds[2] = {{st->fd.get(), POLLIN, 0}, {st->wakeRead.get(), POLLIN, 0}};
        const int r = ::poll(fds, st->wakeRead ? 2 : 1, -1);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0 || (st->wakeRead && fds[1].revents)) return;
        std::string error;
        bool closed = false;
        for (bool more = true; more && !closed;) {
            switch (reader.readPacket(st->fd.get(), &error)) {
            case HelperFrameReader::Status::Partial: break;
            case HelperFrameReader::Status::WouldBlock: more = false; break;
            case HelperFrameReader::Status::Closed:
            case HelperFrameReader::Status::Failed: closed = true; break;
            case HelperFrameReader::Status::Complete: {
                auto env = reader.take(&error);
                if (!env) {
                    log::warning(kCategory, "invalid message on the IKE channel: " + error);
                    break;
                }
                if (!env->replyChannel) break;  // only requests come this way
                auto replyFd = std::make_shared<UniqueFd>(std::move(env->replyChannel));
                auto answer = [replyFd](const HelperMessage& m) {
                    std::string e;
                    sendHelperMessage(replyFd->get(), m, -1, kSendTimeoutMs, &e);
                };
                const std::string* type = helperString(env->message, "type");
                const std::string* rpc = helperString(env->message, "rpc");
                const bool stop = type && *type == "rpc" && rpc && (*rpc == "stop_connection" || *rpc == "stop_connection_forced");
                if (!stop || !st->handlers.stop || st->ending) {
                    answer(refusal(stop ? "the connection has ended" : "unknown request"));
                    break;
                }
                st->handlers.stop(*rpc == "stop_connection_forced", st->owner, [answer](std::string err) {
                    answer(err.empty() ? HelperMessage{{"reply", helper::kYes}} : refusal(err));
                });
                break;
            }
            }
        }
        if (closed) {
            st->broken = true;
            // Only a channel still in use reports; its owner may end in here.
            if (!st->ending && st->handlers.closed) st->handlers.closed(st->owner);
            return;
        }
    }
}

namespace {

// The helper's end of a channel the app handed over with a request.
std::shared_ptr<IkeHelperChannel> keepChannel(const HelperChannel& channel, const std::shared_ptr<IkeService>& service) {
    UniqueFd fd(::fcntl(channel->get(), F_DUPFD_CLOEXEC, 3));
    if (!fd) return nullptr;
    std::weak_ptr<IkeService> weak = service;
    IkeHelperChannel::Handlers handlers;
    handlers.stop = [weak](bool forced, const IkeChannel* c, std::function<void(std::string)> answer) {
        if (auto s = weak.lock()) s->stopAsync(forced, c, std::move(answer));
        else answer("the IKE service has ended");
    };
    handlers.closed = [weak](const IkeChannel* c) {
        if (auto s = weak.lock()) s->channelClosed(c);
    };
    return std::make_shared<IkeHelperChannel>(std::move(fd), std::move(handlers));
}

}  // namespace

void registerIkeCommands(helper::CommandDispatcher& dispatcher, std::shared_ptr<IkeService> service) {
    dispatcher.registerCommand("rpc", "attach_connection", [service](helper::HelperCommand& command) -> std::optional<HelperMessage> {
        HelperChannel channel = helperChannel(command.request.message, "channel");
        if (!channel || !*channel) return refusal("missing parameters");
        auto kept = keepChannel(channel, service);
        if (!kept) return refusal("the channel could not be kept");
        if (auto error = service->attach(command.request.peer.uid, kept); !error.empty()) return refusal(error);
        return HelperMessage{{"reply", helper::kYes}};
    });
    dispatcher.registerCommand("rpc", "start_connection", [service](helper::HelperCommand& command) -> std::optional<HelperMessage> {
        const auto& m = command.request.message;
        const std::string* name = helperString(m, "name");
        const std::string* host = helperString(m, "host");
        const std::string* id = helperString(m, "id");
        const std::string* hostIp = helperString(m, "host_ip");
        HelperChannel channel = helperChannel(m, "channel");
        if (!name || !host || !id || !channel || !*channel) return refusal("missing parameters");
        if (m.count("host_ip") && !hostIp) return refusal("invalid server address");
        IkeStartRequest request{*name, *host, hostIp ? *hostIp : std::string(), *id, command.request.peer.uid};
        if (auto why = validateIkeStart(request); !why.empty()) return refusal(why);

        auto kept = keepChannel(channel, service);
        if (!kept) return refusal("the channel could not be kept");
        auto error = service->start(request, kept);
        if (!error.empty()) return refusal(error);
        return HelperMessage{{"reply", helper::kYes}};
    });
}

}  // namespace hw::ike
