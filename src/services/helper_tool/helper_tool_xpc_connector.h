#pragma once
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
class HelperTool_XPC_Connector {
public:
    using Factory = std::function<std::shared_ptr<HelperConnection>(std::string* error)>;

    static constexpr const char* kServiceName = "com.havenway.HelperTool";
    static constexpr const char* kDefaultSocket = "/run/havenway/helper.sock";

    // Connects to socketPath (HAVENWAY_HELPER_SOCKET, else the default).
    explicit HelperTool_XPC_Connector(MainQueue& queue);
    // Tests hand in how connections are made.
    HelperTool_XPC_Connector(MainQueue& queue, Factory factory);
    ~HelperTool_XPC_Connector();

    // The one instance, made on first use.
    static HelperTool_XPC_Connector& shared(MainQueue& queue);

    // The live connection, making one when there is none; null on failure
    // (getError() then says why).
    std::shared_ptr<HelperConnection> getConnection();
    bool make(const std::string& serviceName);
    std::string getError() const;
    void setError(const std::string& error);
    // Drops the connection (outstanding requests get their error reply).
    void close();

    static std::string socketPath();

private:
    Factory factory_;
    mutable std::mutex mutex_;
    std::shared_ptr<HelperConnection> helper_;
    std::string errmsg_;
    // Lets late interruption notices tell that this connector is gone.
    std::shared_ptr<int> lifetime_ = std::make_shared<int>(0);
};

}  // namespace hw
