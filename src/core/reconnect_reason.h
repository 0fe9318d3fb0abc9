#pragma once

namespace hw {

// Why a reconnect is asked for. The connection's life is the one place that
// acts on these: every road that wants the tunnel back names its reason
// there, and the life decides whether a try starts, when, and whether it counts.
enum class ReconnectReason {
    // The try in flight ended (its error, or a down report), or the tunnel
    // that was up went down.
    tryEnded,
    // The way out changed under a tunnel (another Wi-Fi network, a route
    // change): the old session ends and a new try starts.
    networkChanged,
    // The system woke from sleep: as a network change.
    woke,
    // No way to the network (link down, route gone): no try starts, none is
    // counted, and the pane says it waits for the network.
    networkLost,
    // The network is back: a try starts soon if one was waiting for it.
    networkReturned,
    // The system refused the try outright (a protocol this machine cannot
    // run, a helper refusal): the attempt ends in its error, lock or not.
    refused,
};

inline const char* reconnectReasonName(ReconnectReason reason) {
    switch (reason) {
        case ReconnectReason::tryEnded: return "the try ended";
        case ReconnectReason::networkChanged: return "the network changed";
        case ReconnectReason::woke: return "the system woke";
        case ReconnectReason::networkLost: return "the network is gone";
        case ReconnectReason::networkReturned: return "the network is back";
        case ReconnectReason::refused: return "the system refused the try";
    }
    return "?";
}

}  // namespace hw
