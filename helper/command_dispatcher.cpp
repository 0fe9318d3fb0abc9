#include "helper/command_dispatcher.h"

#include <chrono>
#include <exception>

#include "helper/helper_validation.h"
#include "platform/log.h"

namespace hw::helper {

namespace {
constexpr const char* kLog = "HelperCommands";
const HelperDictionary kNoParameters;
}  // namespace

void CommandDispatcher::registerCommand(const std::string& type, const std::string& name, Handler handler) {
    handlers_[{type, name}] = std::move(handler);
}

bool CommandDispatcher::has(const std::string& type, const std::string& name) const {
    return handlers_.count({type, name}) > 0;
}

bool CommandDispatcher::takes(const HelperMessage& message) const {
    const std::string* type = helperString(message, "type");
    const std::string* name = helperString(message, "rpc");
    return type && name && has(*type, *name);
}

void CommandDispatcher::dispatch(HelperRequest request) {
    const std::string* type = helperString(request.message, "type");
    const std::string* name = helperString(request.message, "rpc");
    std::string uid = std::to_string(request.peer.uid);
    if (!type || !name) {
        log::warning(kLog, "message without type or command from uid " + uid);
        request.reply(replyWith(kNo));
        return;
    }
    auto it = handlers_.find({*type, *name});
    if (it == handlers_.end()) {
        log::warning(kLog, "unknown command " + describeForLog(*name) + " of type " + describeForLog(*type) +
                               " from uid " + uid);
        request.reply(replyWith(kNo));
        return;
    }
    const HelperDictionary* parameters = helperDictionary(request.message, "parameters");
    HelperCommand command{*type, *name, parameters ? *parameters : kNoParameters, request};
    const auto start = std::chrono::steady_clock::now();
    std::optional<HelperMessage> reply;
    try {
        reply = it->second(command);
    } catch (const std::exception& e) {
        log::error(kLog, "command '" + command.name + "' from uid " + uid + " failed: " + e.what());
        reply = replyWith(kNo);
    }
    // One line a command; what went wrong was logged where it went wrong.
    const auto micros =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count();
    const std::string* text = reply ? helperString(*reply, "reply") : nullptr;
    const std::string outcome = !reply ? "answers later" : text ? "-> " + *text : "answered";
    // Bare: only a name from the table gets here, and each command is a
    // cause of its own to the log's limiter, which collapses quoted values.
    log::info(kLog, command.name + " from uid " + uid + " " + outcome + " in " + std::to_string(micros) + " us");
    if (reply) request.reply(*reply);  // else the handler answers later, or its request dies unanswered
}

}  // namespace hw::helper
