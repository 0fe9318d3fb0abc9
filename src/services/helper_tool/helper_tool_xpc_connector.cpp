#include "services/helper_tool/helper_tool_xpc_connector.h"

#include <sys/un.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>

#include "platform/log.h"

namespace hw {

namespace {
constexpr const char* kLog = "HelperTool_XPC_Connector";
}

std::string HelperTool_XPC_Connector::socketPath() {
    const char* redirect = std::getenv("HAVENWAY_HELPER_SOCKET");
    return redirect && *redirect ? redirect : kDefaultSocket;
}

HelperTool_XPC_Connector::HelperTool_XPC_Connector(MainQueue& queue)
    : HelperTool_XPC_Connector(queue, [this, &queue](std::string* error) -> std::shared_ptr<HelperConnection> {
          auto path = socketPath();
          if (path.size() >= sizeof(sockaddr_un{}.sun_path)) {
              *error = "converting XPC service name failed";
              return nullptr;
          }
          auto c = std::make_shared<HelperConnection>(queue);
          std::string why;
          if (!c->connect(path, &why)) {
              // The try's one log line carries this detail.
              std::lock_guard lock(mutex_);
              detail_ = why;
              *error = "creating XPC mach service failed";
              return nullptr;
          }
          return c;
      }) {}

HelperTool_XPC_Connector::HelperTool_XPC_Connector(MainQueue&, Factory factory, Now now)
    : factory_(std::move(factory)), now_(std::move(now)) {
    if (!now_) {
        now_ = [] {
            return std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::steady_clock::now().time_since_epoch())
                .count();
        };
    }
}

HelperTool_XPC_Connector::~HelperTool_XPC_Connector() { close(); }

HelperTool_XPC_Connector& HelperTool_XPC_Connector::shared(MainQueue& queue) {
    static std::mutex lock;
    static std::unique_ptr<HelperTool_XPC_Connector> instance;
    std::lock_guard guard(lock);
    if (!instance) instance = std::make_unique<HelperTool_XPC_Connector>(queue);
    return *instance;
}

bool HelperTool_XPC_Connector::make(const std::string& serviceName) {
    std::string error;
    auto c = factory_(&error);
    if (!c) {
        setError(error);
        return false;
    }
    std::weak_ptr<HelperConnection> weak = c;
    // A broken connection is cleared so that the next command makes a new one.
    std::weak_ptr<int> alive = lifetime_;
    c->setInterruptionHandler([this, weak, alive] {
        if (!alive.lock()) return;
        std::lock_guard lock(mutex_);
        if (helper_ && helper_ == weak.lock()) helper_.reset();
    });
    std::lock_guard lock(mutex_);
    helper_ = std::move(c);
    log::info(kLog, "connected to " + serviceName);
    return true;
}

std::shared_ptr<HelperConnection> HelperTool_XPC_Connector::getConnection(bool* tried) {
    if (tried) *tried = false;
    {
        std::lock_guard lock(mutex_);
        if (helper_ && helper_->isConnected()) return helper_;
        helper_.reset();
        if (shutDown_ || now_() < nextTryAt_) return nullptr;
    }
    if (tried) *tried = true;
    const bool made = make(kServiceName);
    std::lock_guard lock(mutex_);
    if (!made) {
        backoffMs_ = backoffMs_ == 0 ? kFirstBackoffMs : std::min(backoffMs_ * 2, kLongestBackoffMs);
        nextTryAt_ = now_() + backoffMs_;
        log::warning(kLog, "the helper cannot be reached (" + errmsg_ + (detail_.empty() ? "" : ": " + detail_) +
                               "); next try in " + std::to_string(backoffMs_) + " ms");
        detail_.clear();
        return nullptr;
    }
    backoffMs_ = 0;
    nextTryAt_ = 0;
    return helper_;
}

std::int64_t HelperTool_XPC_Connector::msUntilNextTry() const {
    std::lock_guard lock(mutex_);
    return std::max<std::int64_t>(0, nextTryAt_ - now_());
}

std::string HelperTool_XPC_Connector::getError() const {
    std::lock_guard lock(mutex_);
    return errmsg_;
}

void HelperTool_XPC_Connector::setError(const std::string& error) {
    std::lock_guard lock(mutex_);
    errmsg_ = error;
}

void HelperTool_XPC_Connector::close() {
    std::shared_ptr<HelperConnection> c;
    {
        std::lock_guard lock(mutex_);
        c = std::move(helper_);
    }
    if (c) c->cancel();
}

void HelperTool_XPC_Connector::shutDown() {
    {
        std::lock_guard lock(mutex_);
        shutDown_ = true;
    }
    close();
}

}  // namespace hw
