#pragma once
#include <functional>
#include <string>

#include "connection/connection_intents.h"

namespace hw::test {

// The connection's intents, noted as "intents.<what>".
class RecordingIntents final : public ConnectionIntents {
public:
    explicit RecordingIntents(std::function<void(const std::string&)> note) : note_(std::move(note)) {}
    ConnectionIntent intent = ConnectionIntent::connect;
    ConnectionIntent primaryIntent() const override { return intent; }
    void connectOrEnd() override { note_("intents.connectOrEnd"); }
    void signOut() override { note_("intents.signOut"); }
    ConnectionLife::State lifeState = ConnectionLife::State::disconnected;
    ConnectionLife::State state() const override { return lifeState; }
    bool endedOnPurpose = false;
    bool stopped() const override { return endedOnPurpose; }
    bool wifiNetworkChanged() override {
        note_("intents.wifiNetworkChanged");
        return true;
    }
private:
    std::function<void(const std::string&)> note_;
};

}  // namespace hw::test
