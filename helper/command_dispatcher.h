#pragma once
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>

#include "platform/helper_message.h"
#include "platform/helper_server.h"

namespace hw::helper {

inline constexpr const char* kHelperToolRpc = "helper_tool_rpc";
inline constexpr const char* kYes = "YES";
inline constexpr const char* kNo = "NO";

inline HelperMessage replyWith(std::string text) { return {{"reply", HelperValue(std::move(text))}}; }

// One request on its way to its handler.
struct HelperCommand {
    std::string type;                   // "helper_tool_rpc", or another service's type
    std::string name;                   // the "rpc" value
    const HelperDictionary& parameters; // the "parameters" dictionary; empty when none
    HelperRequest& request;             // move it away to answer later
};

// The table of commands, keyed by message type and command name. A handler
// returns the reply, or nothing when it took the request to answer later.
// Unknown commands, and handlers that throw, answer "NO".
class CommandDispatcher {
public:
    using Handler = std::function<std::optional<HelperMessage>(HelperCommand&)>;

    void registerCommand(const std::string& name, Handler handler) {
        registerCommand(kHelperToolRpc, name, std::move(handler));
    }
    void registerCommand(const std::string& type, const std::string& name, Handler handler);
    bool has(const std::string& type, const std::string& name) const;
    // Whether a handler takes this message (by its "type" and "rpc").
    bool takes(const HelperMessage& message) const;

    void dispatch(HelperRequest request);

private:
    std::map<std::pair<std::string, std::string>, Handler> handlers_;
};

}  // namespace hw::helper
