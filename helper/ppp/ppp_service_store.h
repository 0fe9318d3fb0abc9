#pragma once
#include <optional>
#include <string>
#include <vector>

#include "helper/ppp/ppp_service.h"

namespace hw::helper::ppp {

// The system's VPN services as the helper keeps them: one definition file
// and one secrets file per service, both 0600 in a 0700 folder that only
// root can enter. Names are unique; a second creation under a name updates
// that service and keeps its ID.
class PppServiceStore {
public:
    explicit PppServiceStore(std::string folder) : folder_(std::move(folder)) {}

    // Creates or updates; answers the stored service (with its ID), or
    // nothing when a file could not be written (error says why).
    std::optional<PppService> createOrUpdate(const PppService& service, const PppSecrets& secrets,
                                             std::string* error);
    std::optional<PppService> find(const std::string& name) const;
    std::optional<PppSecrets> secrets(const std::string& serviceID) const;
    // True when a service of that name was there and is gone.
    bool remove(const std::string& name);
    std::vector<PppService> all() const;

    const std::string& folder() const { return folder_; }

private:
    std::string definitionPath(const std::string& id) const { return folder_ + "/" + id + ".service"; }
    std::string secretsPath(const std::string& id) const { return folder_ + "/" + id + ".secrets"; }

    std::string folder_;
};

// 32 random hex digits.
std::string newServiceID();

}  // namespace hw::helper::ppp
