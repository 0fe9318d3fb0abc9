#pragma once
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "helper/command_dispatcher.h"
#include "helper/ike/ike_service.h"
#include "platform/helper_message.h"

namespace hw::ike {

// The helper's end of a start's return channel. Events and the password
// request go out on it; the app's stop requests come in on it and are read
// by a thread of the channel's own, which also notices the app going away.
class IkeHelperChannel final : public IkeChannel {
public:
    struct Handlers {
        // A stop request; answer() sends the reply (from any thread).
        std::function<void(bool forced, const IkeChannel* channel, std::function<void(std::string error)> answer)> stop;
        std::function<void(const IkeChannel* channel)> closed;
    };

    IkeHelperChannel(UniqueFd channel, Handlers handlers);
    ~IkeHelperChannel() override;
    IkeHelperChannel(const IkeHelperChannel&) = delete;
    IkeHelperChannel& operator=(const IkeHelperChannel&) = delete;

    void sendEvent(const std::string& event, const std::string& key, const std::string& value) override;
    std::optional<std::string> requestPassword(std::chrono::milliseconds timeout) override;
    PendingPassword askPassword(std::chrono::milliseconds timeout) override;

    static constexpr int kSendTimeoutMs = 2000;

private:
    // What the reader thread shares with the channel: the channel may end
    // on that very thread (its handler can drop the service's last owner).
    struct State {
        UniqueFd fd;
        UniqueFd wakeRead, wakeWrite;
        Handlers handlers;
        const IkeChannel* owner = nullptr;
        std::mutex sendMutex;
        std::atomic<bool> broken{false};  // sending failed: stop talking
        std::atomic<bool> ending{false};  // the channel is being destroyed
    };
    static void readLoop(std::shared_ptr<State> state);

    std::shared_ptr<State> state_;
    std::thread reader_;
};

// "start_connection" (type "rpc") on the helper socket, served by one
// IKE service that lives as long as the dispatcher.
void registerIkeCommands(helper::CommandDispatcher& dispatcher, std::shared_ptr<IkeService> service);

}  // namespace hw::ike
