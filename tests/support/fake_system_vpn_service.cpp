#include "support/fake_system_vpn_service.h"

#include <algorithm>

namespace hw::test {

namespace {

// Forwards to the shared connection so that several handles see one state.
class ConnectionHandle final : public SystemVPNConnection {
public:
    explicit ConnectionHandle(std::shared_ptr<FakeSystemVPNServiceStore::Connection> c) : c_(std::move(c)) {}
    std::int32_t status() override { return c_->status(); }
    SystemVPNExtendedStatus extendedStatus() override { return c_->extendedStatus(); }
    bool start(SystemVPNError* e) override { return c_->start(e); }
    bool stop(bool force, SystemVPNError* e) override { return c_->stop(force, e); }
    void setStatusCallback(StatusCallback cb) override { c_->setStatusCallback(std::move(cb)); }

private:
    std::shared_ptr<FakeSystemVPNServiceStore::Connection> c_;
};

}  // namespace

class FakeSystemVPNPreferences final : public SystemVPNPreferences {
public:
    explicit FakeSystemVPNPreferences(FakeSystemVPNServiceStore& store) : store_(store) {
        std::lock_guard lock(store_.mutex_);
        working_ = store_.services_;
    }
    bool lock() override {
        ++store_.locks;
        return ok("lock");
    }
    void unlock() override {}
    std::optional<SystemVPNServiceInfo> findService(const std::string& name) override {
        for (const auto& s : working_) {
            if (s.name != name) continue;
            SystemVPNServiceInfo info{s.id, s.name, std::nullopt};
            if (!s.unreadableProtocols) info.hasIPSecProtocol = s.extended.count("IPSec") > 0;
            return info;
        }
        return std::nullopt;
    }
    std::optional<std::string> createService(SystemVPNInterfaceType type) override {
        if (!ok("create")) return std::nullopt;
        FakeSystemVPNServiceStore::Service s;
        {
            std::lock_guard lock(store_.mutex_);
            s.id = "SVC-" + std::to_string(store_.nextID_++);
        }
        s.type = type;
        working_.push_back(s);
        return s.id;
    }
    bool setServiceName(const std::string& id, const std::string& name) override {
        if (auto* s = find(id)) s->name = name;
        return true;
    }
    bool setInterfaceConfiguration(const std::string& id, const ServiceConfigDictionary& c) override {
        if (!ok("interface")) return false;
        find(id)->interfaceConfig = c;
        return true;
    }
    bool setExtendedConfiguration(const std::string& id, const std::string& t,
                                  const ServiceConfigDictionary& c) override {
        if (!ok("extended")) return false;
        find(id)->extended[t] = c;
        return true;
    }
    bool establishDefaultConfiguration(const std::string&) override { return ok("default"); }
    bool hasCurrentSet() override { return ok("set"); }
    AddResult addServiceToCurrentSet(const std::string& id) override {
        if (!ok("add")) return AddResult::Failed;
        auto* s = find(id);
        if (s->inSet || store_.addReportsExisting) return AddResult::AlreadyPresent;
        s->inSet = true;
        return AddResult::Added;
    }
    bool hasIPv4Protocol(const std::string&) override { return ok("ipv4protocol"); }
    bool setIPv4Configuration(const std::string& id, const ServiceConfigDictionary& c) override {
        if (!ok("ipv4")) return false;
        find(id)->ipv4 = c;
        return true;
    }
    bool removeService(const std::string& id) override {
        auto it = std::remove_if(working_.begin(), working_.end(), [&](const auto& s) { return s.id == id; });
        bool removed = it != working_.end();
        working_.erase(it, working_.end());
        return removed;
    }
    bool commit() override {
        if (!ok("commit")) return false;
        std::lock_guard lock(store_.mutex_);
        ++store_.commits;
        store_.services_ = working_;
        return true;
    }
    bool apply() override { return ok("apply"); }
    SystemVPNError lastError() override { return error_; }

private:
    bool ok(const std::string& step) {
        if (!store_.failing.count(step)) return true;
        error_ = {1001, step + " failed"};
        return false;
    }
    FakeSystemVPNServiceStore::Service* find(const std::string& id) {
        for (auto& s : working_)
            if (s.id == id) return &s;
        return nullptr;
    }
    FakeSystemVPNServiceStore& store_;
    std::vector<FakeSystemVPNServiceStore::Service> working_;
    SystemVPNError error_;
};

std::unique_ptr<SystemVPNPreferences> FakeSystemVPNServiceStore::openPreferences() {
    if (failing.count("open")) return nullptr;
    return std::make_unique<FakeSystemVPNPreferences>(*this);
}

std::unique_ptr<SystemVPNConnection> FakeSystemVPNServiceStore::connectionForService(const std::string& id) {
    return std::make_unique<ConnectionHandle>(connection(id));
}

std::shared_ptr<FakeSystemVPNServiceStore::Connection> FakeSystemVPNServiceStore::connection(const std::string& id) {
    std::lock_guard lock(mutex_);
    auto& c = connections_[id];
    if (!c) c = std::make_shared<Connection>();
    return c;
}

FakeSystemVPNServiceStore::Service& FakeSystemVPNServiceStore::addService(const std::string& name,
                                                                         SystemVPNInterfaceType type) {
    std::lock_guard lock(mutex_);
    Service s;
    s.id = "SVC-" + std::to_string(nextID_++);
    s.name = name;
    s.type = type;
    if (type == SystemVPNInterfaceType::L2TP) s.extended["IPSec"] = {};
    s.inSet = true;
    services_.push_back(s);
    return services_.back();
}

const FakeSystemVPNServiceStore::Service* FakeSystemVPNServiceStore::committed(const std::string& name) const {
    std::lock_guard lock(mutex_);
    for (const auto& s : services_)
        if (s.name == name) return &s;
    return nullptr;
}

}  // namespace hw::test
