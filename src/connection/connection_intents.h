#pragma once
#include "connection/connection_life.h"

namespace hw {

// What the one Connect control means now, whichever shows it (the pane's
// button, the tray's and the menus' Connect item, a double-click on a
// location): the machine's state says, not the control's look.
enum class ConnectionIntent {
    connect,     // no attempt: connect to the chosen location
    cancel,      // an attempt runs: nothing more is tried
    disconnect,  // a tunnel is up: it ends
    liftLock,    // a refused attempt holds the lock: the user lifts it
};
inline const char* connectionIntentName(ConnectionIntent intent) {
    switch (intent) {
        case ConnectionIntent::connect: return "Connect";
        case ConnectionIntent::cancel: return "Cancel";
        case ConnectionIntent::disconnect: return "Disconnect";
        case ConnectionIntent::liftLock: return "lifting of the lock";
    }
    return "?";
}

// The user's intents as the windows, the tray and the menus send them, and
// the state they read. One per application, the connection layer's.
class ConnectionIntents {
public:
    virtual ~ConnectionIntents() = default;
    virtual ConnectionIntent primaryIntent() const = 0;
    // The Connect control's action: the intent primaryIntent() names now.
    virtual void connectOrEnd() = 0;
    // The user signed out: the account's attempt ends, and nothing of it acts again.
    virtual void signOut() = 0;
    virtual ConnectionLife::State state() const = 0;
    // The last attempt was ended on purpose and none began since.
    virtual bool stopped() const = 0;
    // A tunnel is up and no try of a reconnect runs or waits: what the
    // tunnel set up may be refreshed now without racing a try.
    bool settledConnected() const { return state() == ConnectionLife::State::connected; }
    // The Wi-Fi network changed under a tunnel: true when it restarts for it.
    virtual bool wifiNetworkChanged() = 0;
};

}  // namespace hw
