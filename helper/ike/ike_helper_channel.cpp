#include "helper/ike/ike_helper_channel.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "platform/helper_socket.h"
#include "platform/log.h"

namespace hw::ike {

namespace {

constexpr const char* kCategory = "ike";

HelperMessage refusal(const std::string& why) { return {{"reply", helper::kNo}, {"error", why}}; }

}  // namespace

IkeHelperChannel::IkeHelperChannel(UniqueFd channel, Handlers handlers)
    : fd_(std::move(channel)), handlers_(std::move(handlers)) {
    int p[2];
    if (::pipe2(p, O_CLOEXEC | O_NONBLOCK) == 0) {
        wakeRead_.reset(p[0]);
        wakeWrite_.reset(p[1]);
    }
    reader_ = std::thread([this] { readLoop(); });
}

IkeHelperChannel::~IkeHelperChannel() {
    if (wakeWrite_) {
        const char b = 1;
        [[maybe_unused]] auto n = ::write(wakeWrite_.get(), &b, 1);
    }
    if (reader_.joinable()) reader_.join();
}

void IkeHelperChannel::broke() { broken_ = true; }

void IkeHelperChannel::sendEvent(const std::string& event, const std::string& key, const std::string& value) {
    if (broken_) return;
    HelperMessage m{{"type", "event"}, {"event", event}};
    if (!key.empty()) m[key] = value;
    std::lock_guard lock(sendMutex_);
    std::string error;
    if (!sendHelperMessage(fd_.get(), m, -1, kSendTimeoutMs, &error)) {
        // The reader sees the app go away and reports it; stop talking.
        log::warning(kCategory, "event to the app failed: " + error);
        broke();
    }
}

std::optional<std::string> IkeHelperChannel::requestPassword(std::chrono::milliseconds timeout) {
    if (broken_) return std::nullopt;
    auto [mine, theirs] = makeHelperSocketPair();
    if (!mine) return std::nullopt;
    std::string error;
    {
        std::lock_guard lock(sendMutex_);
        if (!sendHelperMessage(fd_.get(), {{"type", "rpc"}, {"rpc", "get_password"}}, theirs.get(), kSendTimeoutMs,
                               &error)) {
            broke();
            return std::nullopt;
        }
    }
    theirs.reset();
    auto answer = receiveHelperMessage(mine.get(), static_cast<int>(timeout.count()), &error);
    if (!answer) return std::nullopt;
    const std::string* password = helperString(answer->message, "password");
    if (!password) return std::nullopt;
    return *password;
}

void IkeHelperChannel::readLoop() {
    HelperFrameReader reader;
    for (;;) {
        pollfd fds[2] = {{fd_.get(), POLLIN, 0}, {wakeRead_.get(), POLLIN, 0}};
        const int r = ::poll(fds, wakeRead_ ? 2 : 1, -1);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0 || (wakeRead_ && fds[1].revents)) return;
        std::string error;
        bool closed = false;
        for (bool more = true; more && !closed;) {
            switch (reader.readPacket(fd_.get(), &error)) {
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
                if (!stop || !handlers_.stop) {
                    answer(refusal("unknown request"));
                    break;
                }
                handlers_.stop(*rpc == "stop_connection_forced", this, [answer](std::string err) {
                    answer(err.empty() ? HelperMessage{{"reply", helper::kYes}} : refusal(err));
                });
                break;
            }
            }
        }
        if (closed) {
            broke();
            if (handlers_.closed) handlers_.closed(this);
            return;
        }
    }
}

void registerIkeCommands(helper::CommandDispatcher& dispatcher, std::shared_ptr<IkeService> service) {
    dispatcher.registerCommand("rpc", "start_connection", [service](helper::HelperCommand& command) -> std::optional<HelperMessage> {
        const auto& m = command.request.message;
        const std::string* name = helperString(m, "name");
        const std::string* host = helperString(m, "host");
        const std::string* id = helperString(m, "id");
        const std::string* hostIp = helperString(m, "host_ip");
        HelperChannel channel = helperChannel(m, "channel");
        if (!name || !host || !id || !channel || !*channel) return refusal("missing parameters");
        if (m.count("host_ip") && !hostIp) return refusal("invalid server address");
        IkeStartRequest request{*name, *host, hostIp ? *hostIp : std::string(), *id};
        if (auto why = validateIkeStart(request); !why.empty()) return refusal(why);

        UniqueFd fd(::fcntl(channel->get(), F_DUPFD_CLOEXEC, 3));
        if (!fd) return refusal("the channel could not be kept");
        std::weak_ptr<IkeService> weak = service;
        IkeHelperChannel::Handlers handlers;
        handlers.stop = [weak](bool forced, const IkeChannel* c, std::function<void(std::string)> answer) {
            if (auto s = weak.lock()) s->stopAsync(forced, c, std::move(answer));
            else answer("the IKE service has ended");
        };
        handlers.closed = [weak](const IkeChannel* c) {
            if (auto s = weak.lock()) s->channelClosed(c);
        };
        auto error = service->start(request, std::make_shared<IkeHelperChannel>(std::move(fd), std::move(handlers)));
        if (!error.empty()) return refusal(error);
        return HelperMessage{{"reply", helper::kYes}};
    });
}

}  // namespace hw::ike
