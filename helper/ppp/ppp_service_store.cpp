#include "helper/ppp/ppp_service_store.h"

#include <dirent.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "helper/helper_files.h"
#include "helper/ppp/ppp_options.h"
#include "platform/log.h"

namespace hw::helper::ppp {

using nlohmann::json;

namespace {

constexpr char kLog[] = "PppServices";

std::optional<PppService> parseDefinition(const std::string& text) {
    auto j = json::parse(text, nullptr, false);
    if (j.is_discarded() || !j.is_object()) return std::nullopt;
    PppService s;
    try {
        s.serviceID = j.at("serviceID").get<std::string>();
        s.name = j.at("name").get<std::string>();
        auto type = j.at("type").get<std::int64_t>();
        if (type != 2 && type != 3) return std::nullopt;
        s.type = static_cast<PppServiceType>(type);
        s.endpoint = j.at("endpoint").get<std::string>();
        s.username = j.at("username").get<std::string>();
    } catch (const json::exception&) {
        return std::nullopt;
    }
    // A file edited by hand must not smuggle in what a command would refuse.
    if (!isEndpoint(s.endpoint) || !isCredential(s.username)) return std::nullopt;
    return s;
}

}  // namespace

std::string newServiceID() {
    unsigned char bytes[16];
    std::size_t got = 0;
    while (got < sizeof bytes) {
        ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
        if (n > 0) got += static_cast<std::size_t>(n);
    }
    char hex[33];
    for (std::size_t i = 0; i < sizeof bytes; ++i) std::snprintf(hex + 2 * i, 3, "%02x", bytes[i]);
    return std::string(hex, 32);
}

std::vector<PppService> PppServiceStore::all() const {
    std::vector<PppService> out;
    DIR* dir = opendir(folder_.c_str());
    if (!dir) return out;
    while (dirent* e = readdir(dir)) {
        std::string file = e->d_name;
        const std::string suffix = ".service";
        if (file.size() <= suffix.size() || file.compare(file.size() - suffix.size(), suffix.size(), suffix) != 0)
            continue;
        auto text = readFile(folder_ + "/" + file);
        auto s = text ? parseDefinition(*text) : std::nullopt;
        if (s && s->serviceID + suffix == file) out.push_back(*s);
    }
    closedir(dir);
    // Oldest first would need times; an order by ID is at least stable.
    std::sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.serviceID < b.serviceID; });
    return out;
}

std::optional<PppService> PppServiceStore::find(const std::string& name) const {
    for (auto& s : all())
        if (s.name == name) return s;
    return std::nullopt;
}

std::optional<PppSecrets> PppServiceStore::secrets(const std::string& id) const {
    auto text = readFile(secretsPath(id));
    if (!text) return std::nullopt;
    auto j = json::parse(*text, nullptr, false);
    if (j.is_discarded() || !j.is_object()) return std::nullopt;
    PppSecrets s;
    s.password = j.value("password", "");
    s.sharedSecret = j.value("sharedSecret", "");
    return s;
}

std::optional<PppService> PppServiceStore::createOrUpdate(const PppService& service, const PppSecrets& secrets,
                                                          std::string* error) {
    if (!makePrivateDirectory(folder_)) {
        if (error) *error = "cannot create " + folder_;
        return std::nullopt;
    }
    PppService stored = service;
    auto existing = find(service.name);
    stored.serviceID = existing ? existing->serviceID : newServiceID();
    json secretJson = {{"password", secrets.password}, {"sharedSecret", secrets.sharedSecret}};
    json definition = {{"serviceID", stored.serviceID},
                       {"name", stored.name},
                       {"type", static_cast<std::int64_t>(stored.type)},
                       {"endpoint", stored.endpoint},
                       {"username", stored.username}};
    // Secrets first: a definition without its secrets would dial and fail.
    if (!writeFileAtomically(secretsPath(stored.serviceID), secretJson.dump(), 0600, error) ||
        !writeFileAtomically(definitionPath(stored.serviceID), definition.dump(2) + "\n", 0600, error))
        return std::nullopt;
    log::info(kLog, std::string(existing ? "updated" : "created") + " service " + stored.serviceID);
    return stored;
}

bool PppServiceStore::remove(const std::string& name) {
    auto s = find(name);
    if (!s) return false;
    ::unlink(definitionPath(s->serviceID).c_str());
    ::unlink(secretsPath(s->serviceID).c_str());
    log::info(kLog, "removed service " + s->serviceID);
    return true;
}

}  // namespace hw::helper::ppp
