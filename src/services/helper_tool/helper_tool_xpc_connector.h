#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/helper_connection.h"
#include "platform/main_queue.h"

namespace hw {

// The process-wide holder of the connection to the privileged helper. A
// connection that breaks is dropped, and the next command makes a new one.
// The IKE connector sends its own messages over the same connection.
// A helper that cannot be reached is tried again only after a back-off
// (1 s, doubling to 4 s): commands meanwhile fail at once without a try,
// so a helper that is gone costs one try and one log line per interval,
// and one that comes back is found within the back-off.
class HelperTool_XPC_Connector {
public:
    using Factory = std::function<std::shared_ptr<HelperConnection>(std::string* error)>;
    // Milliseconds on a clock that never runs backwards.
    using Now = std::function<std::int64_t()>;

    static constexpr std::int64_t kFirstBackoffMs = 1000;
    static constexpr std::int64_t kLongestBackoffMs = 4000;

    static constexpr const char* kServiceName = "com.havenway.HelperTool";
    static constexpr const char* kDefaultSocket = "/run/havenway/helper.sock";

    // Connects to socketPath (HAVENWAY_HELPER_SOCKET, else the default).
    explicit HelperTool_XPC_Connector(MainQueue& queue);
    // Tests hand in how connections are made, and may hand in the clock.
    HelperTool_XPC_Connector(MainQueue& queue, Factory factory, Now now = {});
    ~HelperTool_XPC_Connector();

    // The one instance, made on first use.
    static HelperTool_XPC_Connector& shared(MainQueue& queue);

    // The live connection, making one when there is none; null on failure
    // (getError() then says why). tried says whether this call tried the
    // helper, rather than failing at once inside a back-off.
    std::shared_ptr<HelperConnection> getConnection(bool* tried = nullptr);
    // How long until the next try is allowed; 0 when one would be made now.
    std::int64_t msUntilNextTry() const;
    bool make(const std::string& serviceName);
    std::string getError() const;
    void setError(const std::string& error);
    // Drops the connection (outstanding requests get their error reply).
    void close();
    // Closes for good: no connection is made after it. The process calls it
    // while its main queue still lives, since this instance outlives that
    // queue and a connection cancelled later would post to it.
    void shutDown();

    static std::string socketPath();

private:
    Factory factory_;
    Now now_;
    mutable std::mutex mutex_;
    std::int64_t backoffMs_ = 0;
    std::int64_t nextTryAt_ = 0;
    std::shared_ptr<HelperConnection> helper_;
    std::string errmsg_;
    std::string detail_;  // why the last try failed, for its log line
    bool shutDown_ = false;
    // Lets late interruption notices tell that this connector is gone.
    std::shared_ptr<int> lifetime_ = std::make_shared<int>(0);
};

}  // namespace hw
