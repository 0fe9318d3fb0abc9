#include "connection/ikev2_strongswan_connector.h"

#include <cstdio>
#include <random>

#include "platform/log.h"

namespace hw {

namespace {

constexpr const char* kLog = "ikev2";

const char* forcedText(bool forced) { return forced ? "TRUE" : "FALSE"; }

std::string valueOf(const IKEv2ConnectionDictionary& d, const std::string& key) {
    auto it = d.find(key);
    return it == d.end() ? std::string() : it->second;
}

}  // namespace

std::string makeUpperCaseUUID() {
    std::random_device rd;
    unsigned char b[16];
    for (auto& x : b) x = static_cast<unsigned char>(rd() & 0xff);
    b[6] = static_cast<unsigned char>((b[6] & 0x0f) | 0x40);
    b[8] = static_cast<unsigned char>((b[8] & 0x3f) | 0x80);
    char text[37];
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", b[0], b[1],
                  b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
    return text;
}

IKEv2_StrongSwan_Connector::IKEv2_StrongSwan_Connector(MainQueue& queue, HelperTool_XPC_Connector& helper,
                                                       IKEv2_StrongSwan_ControlDelegate* delegate)
    : queue_(queue), helper_(helper), del_(delegate), self_(std::make_shared<IKEv2_StrongSwan_Connector*>(this)) {}

IKEv2_StrongSwan_Connector::~IKEv2_StrongSwan_Connector() { *self_ = nullptr; }

HelperConnection::ChannelEnd IKEv2_StrongSwan_Connector::openChannel(const std::shared_ptr<HelperConnection>& helper,
                                                                     const IKEv2ConnectionDictionary& connection) {
    std::weak_ptr<IKEv2_StrongSwan_Connector*> weak = self_;
    auto channel = std::make_shared<Channel>();
    channel->connection = helper;
    auto end = helper->makeChannel(
        [weak, connection, channel](HelperIncoming in) {
            auto self = weak.lock();
            if (self && *self) (*self)->handleEvent(in, *channel, connection);
        },
        [weak, connection] {
            auto self = weak.lock();
            if (self && *self) (*self)->channelBroke(connection);
        });
    channel->id = end.id;
    currentChannel_ = *channel;
    return end;
}

void IKEv2_StrongSwan_Connector::connect(const IKEv2ConnectionDictionary& connection,
                                         std::function<void()> connectedHandler) {
    adoptingID_.clear();
    auto copy = connection;
    copy["name"] = kConnectionName;
    copy["ID"] = makeUpperCaseUUID();
    currentConnection_ = copy;

    bool tried = false;
    std::shared_ptr<HelperConnection> helper = helper_.getConnection(&tried);
    if (!helper) {
        const std::string error = helper_.getError();
        if (tried) log::error(kLog, error);
        // The failure comes when the helper may be tried again, so that the
        // reconnects it sets off go at the connector's pace, not in a storm.
        const auto delay = helper_.msUntilNextTry();
        if (delay <= 0) {
            if (del_) del_->raise(error, connection);
            return;
        }
        std::weak_ptr<IKEv2_StrongSwan_Connector*> weak = self_;
        const std::string id = copy["ID"];
        queue_.postAfter(static_cast<double>(delay), [weak, error, connection, id] {
            auto self = weak.lock();
            if (!self || !*self || valueOf((*self)->currentConnection_, "ID") != id) return;
            if ((*self)->del_) (*self)->del_->raise(error, connection);
        });
        return;
    }
    HelperMessage message{{"type", "rpc"},
                          {"rpc", "start_connection"},
                          {"name", kConnectionName},
                          {"host", valueOf(copy, "server")},
                          {"id", valueOf(copy, "username")}};
    if (auto ip = copy.find("server_IP"); ip != copy.end()) message["host_ip"] = ip->second;

    std::weak_ptr<IKEv2_StrongSwan_Connector*> weak = self_;
    auto end = openChannel(helper, copy);
    if (end.id == 0) {
        const std::string error = "creating the return channel failed";
        log::error(kLog, error);
        if (del_) del_->raise(error, connection);
        return;
    }
    message["channel"] = end.peer;
    helper->send(std::move(message), [weak, handler = std::move(connectedHandler)](HelperReply) {
        auto self = weak.lock();
        if (!self || !*self) return;
        log::info(kLog, "'IKEv2 Connect' command -- response received.");
        if (handler) handler();
    });
}

void IKEv2_StrongSwan_Connector::adopt(std::function<void(bool adopted)> done) {
    IKEv2ConnectionDictionary connection{{"name", kConnectionName}, {"ID", makeUpperCaseUUID()}};
    currentConnection_ = connection;
    std::shared_ptr<HelperConnection> helper = helper_.getConnection(nullptr);
    if (!helper) {
        queue_.post([done = std::move(done)] { done(false); });
        return;
    }
    std::weak_ptr<IKEv2_StrongSwan_Connector*> weak = self_;
    auto end = openChannel(helper, connection);
    if (end.id == 0) {
        queue_.post([done = std::move(done)] { done(false); });
        return;
    }
    HelperMessage message{{"type", "rpc"}, {"rpc", "attach_connection"}, {"channel", end.peer}};
    // A helper with nothing to hand over drops the channel, maybe before its
    // answer comes: that is no tunnel going down.
    adoptingID_ = valueOf(connection, "ID");
    helper->send(std::move(message), [weak, done = std::move(done), id = adoptingID_](HelperReply reply) {
        auto self = weak.lock();
        if (!self || !*self) return;
        const std::string* answer = reply.ok() ? helperString(reply.message, "reply") : nullptr;
        const bool adopted = answer && *answer == "YES";
        log::info(kLog, adopted ? "the IKEv2 tunnel left running was taken over" : "no IKEv2 tunnel left running");
        if ((*self)->adoptingID_ == id) (*self)->adoptingID_.clear();
        if (!adopted && valueOf((*self)->currentConnection_, "ID") == id) (*self)->currentConnection_.clear();
        done(adopted);
    });
}

void IKEv2_StrongSwan_Connector::disconnect(bool forced) {
    const std::string f = forcedText(forced);
    log::info(kLog, "'IKEv2 Disconnect (FORCED: " + f + ")' command is ABOUT to be started.");
    auto it = active_.find(kConnectionName);
    if (it == active_.end()) {
        log::info(kLog, "'IKEv2 Disconnect (FORCED: " + f + ") command FAILED -- no active tunnel available.");
        return;
    }
    log::info(kLog, "'IKEv2 Disconnect (FORCED: " + f + ")' command STARTED");
    if (forced) skipDisconnectEventSend_ = true;
    std::weak_ptr<IKEv2_StrongSwan_Connector*> weak = self_;
    auto onReply = [weak, f](HelperReply) {
        auto self = weak.lock();
        if (!self || !*self) return;
        log::info(kLog, "'IKEv2 Disconnect (FORCED: " + f + ")' command -- response received.");
        (*self)->skipDisconnectEventSend_ = false;
    };
    HelperMessage message{{"type", "rpc"}, {"rpc", forced ? "stop_connection_forced" : "stop_connection"}};
    auto helper = it->second.connection.lock();
    if (!helper) {
        // The connection that carried the channel is gone, and the channel
        // with it: the stop fails like a stop on a broken channel.
        queue_.post([onReply] { onReply(HelperReply{{}, "connection invalid"}); });
        return;
    }
    helper->sendOnChannel(it->second.id, std::move(message), onReply);
}

void IKEv2_StrongSwan_Connector::changeState(std::int32_t state, const Channel& channel,
                                             const IKEv2ConnectionDictionary& connection) {
    const std::string name = valueOf(connection, "name");
    if (state == 0) active_.erase(name);
    else if (state == 1) active_[name] = channel;
    if (del_) del_->change(state, connection);
}

void IKEv2_StrongSwan_Connector::handleEvent(HelperIncoming& in, const Channel& channel,
                                             const IKEv2ConnectionDictionary& connection) {
    const std::string* type = helperString(in.message, "type");
    if (!type) return;
    if (*type == "rpc") {
        HelperMessage reply;
        const std::string* rpc = helperString(in.message, "rpc");
        if (rpc && *rpc == "get_password") {
            // Only the channel made for the current start may learn the password.
            if (channel.id != 0 && channel.id == currentChannel_.id &&
                channel.connection.lock() == currentChannel_.connection.lock()) {
                if (auto pw = currentConnection_.find("password"); pw != currentConnection_.end())
                    reply["password"] = pw->second;
            } else {
                log::warning(kLog, "password request on a channel of an earlier start refused");
            }
        }
        in.reply(reply);
        return;
    }
    if (*type != "event") return;
    const std::string* event = helperString(in.message, "event");
    if (!event) return;
    // A start that was replaced still reports on its own channel: its late
    // "connecting" or "down" would paint over the tunnel that runs now.
    const bool current = valueOf(connection, "ID") == valueOf(currentConnection_, "ID");
    if (!current && *event != "log") {
        log::info(kLog, "'" + *event + "' of an earlier start ignored");
        return;
    }
    if (*event == "log") {
        if (const auto* m = helperString(in.message, "message")) log::info(kLog, *m);
    } else if (*event == "alert") {
        const auto* alert = helperString(in.message, "alert");
        if (!alert) return;
        if (auto text = translateAlert(*alert)) {
            log::warning(kLog, *text);
            if (del_) del_->raise(*text, connection);
        }
    } else if (*event == "connecting") {
        changeState(1, channel, connection);
    } else if (*event == "child_up") {
        changeState(2, channel, connection);
    } else if (*event == "down" || *event == "child_down") {
        if (!skipDisconnectEventSend_) changeState(0, channel, connection);
    }
}

void IKEv2_StrongSwan_Connector::channelBroke(const IKEv2ConnectionDictionary& connection) {
    const std::string id = valueOf(connection, "ID");
    if (!adoptingID_.empty() && id == adoptingID_) {
        log::info(kLog, "the channel of the take-over closed before the helper answered");
        return;
    }
    const std::string current = valueOf(currentConnection_, "ID");
    log::info(kLog, "IKEv2_StrongSwan_Connector -- ID: " + id +
                        " -- XPC_ERROR_CONNECTION_INTERRUPTED -- currentConnectionID: " + current);
    if (id != current) return;
    log::info(kLog, "IKEv2_StrongSwan_Connector ID is the same, sending STATE_DOWN event.");
    if (del_) del_->change(0, connection);
}

std::optional<std::string> IKEv2_StrongSwan_Connector::translateAlert(std::string_view alert) {
    if (alert == "local-auth") return kClientAuthenticationFailed;
    if (alert == "remote-auth") return kServerAuthenticationFailed;
    if (alert == "dns") return "Resolving server hostname failed";
    if (alert == "unreachable") return "Server is unreachable";
    if (alert == "timeout") return "Server did not respond";
    if (alert == "proposal-mismatch") return "No common cryptographic algorithms found";
    if (alert == "ts-mismatch") return "No common traffic selectors found";
    return std::nullopt;
}

}  // namespace hw
