#include "services/parse_config_service.h"

#include <unistd.h>

#include <climits>
#include <cmath>
#include <fstream>

#include "core/application_model_parse_file.h"
#include "core/global_constants.h"
#include "platform/backend/parse_object.h"
#include "platform/ip_address.h"
#include "platform/log.h"
#include "services/form_encoding.h"
#include "services/vpn_parse_config.h"

namespace hw {
namespace {

constexpr std::string_view kLog = "ParseConfigService";

std::optional<std::string> text(const ParseConfig& config, const char* key) { return config[key].string(); }

std::optional<std::string> webText(const ParseConfig& config, const char* key) {
    auto s = text(config, key);
    if (!s || !isWebURL(*s)) return std::nullopt;
    return s;
}

// A host name as the backend may name one: letters, digits, dots, dashes, a port.
bool plausibleHost(const std::string& host) {
    if (host.empty() || host.size() > 253) return false;
    for (char c : host) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                        c == '.' || c == ':';
        if (!ok) return false;
    }
    return true;
}

std::optional<std::string> hostText(const ParseConfig& config, const char* key) {
    auto s = text(config, key);
    if (!s || !plausibleHost(*s)) return std::nullopt;
    return s;
}

std::optional<std::vector<std::string>> stringList(const JSON& value) {
    auto items = value.array();
    if (!items) return std::nullopt;
    std::vector<std::string> out;
    for (const auto& item : *items) {
        if (auto s = item.string()) out.push_back(*s);
    }
    return out;
}

// "domainForCountriesList" is a JSON text: {"list": [{"countries": [...], "domain": "..."}]}.
std::optional<std::vector<DomainForCountryObject>> domainList(const ParseConfig& config) {
    auto raw = text(config, "domainForCountriesList");
    JSON json = raw ? JSON::parse(*raw) : config["domainForCountriesList"];
    auto entries = json["list"].array();
    if (!entries) return std::nullopt;
    std::vector<DomainForCountryObject> out;
    for (const auto& entry : *entries) {
        auto countries = stringList(entry["countries"]);
        auto domain = entry["domain"].string();
        if (!countries || !domain || !plausibleHost(*domain)) continue;
        out.push_back(DomainForCountryObject{std::move(*countries), *domain});
    }
    return out;
}

bool validObjectId(const std::string& id) {
    if (id.empty() || id.size() > 64) return false;
    for (char c : id) {
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-'))
            return false;
    }
    return true;
}

bool validZoneName(const std::string& zone) {
    if (zone.empty() || zone.size() > 64 || zone.front() == '/' || zone.find("..") != std::string::npos) return false;
    for (char c : zone) {
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
              c == '/' || c == '+'))
            return false;
    }
    return true;
}

}  // namespace

ParseConfigService::ParseConfigService(ApplicationModel& model, ParseClient& parse, HttpClient& http,
                                       LinksManager& links, SmartWigdetHelper& widget, AnalyticsService& analytics)
    : model_(model), parse_(parse), http_(http), links_(links), widget_(widget), analytics_(analytics) {}

ParseConfigService::~ParseConfigService() = default;

void ParseConfigService::loadParseConfig(std::function<void()> completed,
                                         std::function<void(OptionalParseError)> onError) {
    log::info(kLog, "PARSE call -- getConfigInBackground started..");
    std::weak_ptr<bool> alive = alive_;
    parse_.fetchConfig([this, alive, completed, onError](ParseConfig config, OptionalParseError error) {
        if (alive.expired()) return;
        if (error) {
            log::warning(kLog, "remote configuration failed with code " + std::to_string(error->code));
            if (onError) onError(std::move(error));
            return;
        }
        applyConfig(config, completed);
    });
}

bool ParseConfigService::isConfigIncomplete(const ParseConfig& config) {
    if (config.params.type() != JSON::Type::dictionary) return true;
    for (const char* key : {"publicIPInfoUrl", "mainDomainName", "vpnServersDomainSuffix", "reachabilityDomainName"}) {
        if (!text(config, key)) return true;
    }
    return !parseDate(config["vpnConfigUpdatedAt"]);
}

void ParseConfigService::applyConfig(const ParseConfig& config, std::function<void()> completion) {
    if (auto v = webText(config, "publicIPInfoUrl")) model_.publicIPInfoUrl = v;
    if (auto v = parseDate(config["vpnConfigUpdatedAt"])) model_.parseVPNConfigUpdatedAt = v;
    if (auto v = hostText(config, "mainDomainName")) {
        model_.parseMainDomainName = *v;
        if (model_.mainDomainName.empty()) model_.mainDomainName = *v;
    }
    if (auto v = hostText(config, "mirrorDomainName")) model_.parseMirrorDomainName = *v;
    if (auto v = stringList(config["mirrorDomainCountries"])) model_.mirrorDomainCountries = v;
    if (auto v = domainList(config)) model_.domainForCountriesList = v;
    if (auto v = hostText(config, "vpnServersDomainSuffix")) model_.vpnServersDomainSuffix = *v;
    if (auto v = hostText(config, "reachabilityDomainName")) model_.reachabilityDomainName = *v;
    if (auto v = text(config, "latestVersion_OSX")) model_.newAppVersionString = v;
    if (auto v = webText(config, "latestVersionDownloadLink")) model_.newAppVersionDowloadLink = v;
    const char* updateKey =
        GlobalConstants::useDebugUpdatePackage ? "appAutoUpdateDownloadURL_debug" : "appAutoUpdateDownloadURL";
    if (auto v = webText(config, updateKey)) model_.appAutoUpdateDownloadURL = *v;
    if (auto v = config["useAutoUpdater"].bool_()) model_.useAutoUpdater = *v;
    if (auto v = text(config, "DNSResolver"); v && !GlobalConstants::setDnsResolver(*v)) {
        log::warning(kLog, "DNSResolver is not an IP address; the old resolver stays");
    }
    if (auto v = text(config, "DNSResolverSecondary"); v && !GlobalConstants::setDnsResolverSecondary(*v)) {
        log::warning(kLog, "DNSResolverSecondary is not an IP address; the old resolver stays");
    }

    const char* authorizeKey =
        GlobalConstants::useFreeTrialAuthorizeV2 ? "authorizeForFreeTrialLink_v2" : "authorizeForFreeTrialLink";
    if (auto v = webText(config, authorizeKey)) model_.authorizeForFreeTrialLink = *v;
    if (auto v = config["rejectInAppFreeTrialSignUp"].bool_()) {
        model_.rejectInAppFreeTrialSignUp = GlobalConstants::rejectInAppFreeTrialSignUp || *v;
    }

    if (auto v = text(config, "linkFreeTrialSignup")) links_.createNewAccountLink_Raw = v;
    if (auto v = text(config, "knowledgebaseLink")) links_.knowledgeBaseLink_Raw = v;
    if (auto v = text(config, "linkTermsOfUse")) links_.termsOfServiceRawLink = *v;
    if (auto v = text(config, "probeURL")) links_.probeURLString = v;
    links_.linksDataObject = LinksDataObject{config["supportTicketLink"].stringValue(),
                                             config["speedTestLink"].stringValue(),
                                             config["myAccountLink"].stringValue(),
                                             config["inviteFriendsLink"].stringValue(),
                                             config["viewInvoicesLink"].stringValue()};

    if (auto v = webText(config, "smartWidgetURL")) widget_.smartWidgetURL = v;
    if (auto v = config["smartWidgetCheckIntervalMin"].double_(); v && std::isfinite(*v) && *v >= 1 && *v <= 24 * 60) {
        model_.smartWidgetCheckIntervalMin = static_cast<int>(*v);
    }
    if (auto v = webText(config, "analyticsTrackerURL")) analytics_.trackerURL = *v;
    applyMapFile(config["mainViewMap"], false);
    applyMapFile(config["mainViewMapDark"], true);
    log::info(kLog, "remote configuration applied");
    if (completion) completion();
}

void ParseConfigService::applyMapFile(const JSON& value, bool dark) {
    auto file = parse_.fileFromJSON(value);
    if (!file || !isWebURL(file->url())) return;
    const auto& current = dark ? model_.mainViewMapDarkPFFile() : model_.mainViewMapPFFile();
    if (auto known = std::dynamic_pointer_cast<ParseBackendFile>(current); known && known->file()->url() == file->url()) {
        return;  // the same map: no second download
    }
    auto backendFile = std::make_shared<ParseBackendFile>(file);
    if (dark) {
        model_.setMainViewMapDarkPFFile(backendFile);
    } else {
        model_.setMainViewMapPFFile(backendFile);
    }
}

void ParseConfigService::requestPublicIPInfo(const std::string& url, std::function<void(PublicAddressInfo)> completion) {
    if (!isWebURL(url)) {
        log::warning(kLog, "User Info data format error!");
        PublicAddressInfo info;
        info.failed = true;
        if (completion) completion(info);
        return;
    }
    HttpRequest request;
    request.url = url;
    // Asked right after the tunnel came up or went down.
    request.freshConnection = true;
    request.ignoreCache = true;
    std::weak_ptr<bool> alive = alive_;
    http_.send(std::move(request), [alive, completion](HttpResponse response) {
        if (alive.expired()) return;
        auto info = readPublicIPInfo(response, deviceTimeZoneIdentifier());
        if (completion) completion(std::move(info));
    });
}

ParseConfigService::PublicAddressInfo ParseConfigService::readPublicIPInfo(const HttpResponse& response,
                                                                           const std::string& deviceTimeZone) {
    PublicAddressInfo info;
    auto json = response.error ? JSON() : JSON::parse(response.body);
    if (json.type() != JSON::Type::dictionary) {
        log::warning(kLog, "User Info data format error!");
        info.failed = true;
        return info;
    }
    if (auto ip = json["ip"].string(); ip && isIPAddress(*ip)) info.address = *ip;
    if (auto cc = json["country_code"].string(); cc && !cc->empty() && cc->size() <= 3) {
        bool letters = true;
        for (char c : *cc) letters = letters && ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'));
        if (letters) info.countryCode = *cc;
    }
    if (json["time_zone"].exists()) info.timeZone = deviceTimeZone;
    return info;
}

void ParseConfigService::getAutomaticLocation(const std::string& address, const std::string& timeZone,
                                              std::function<void(std::optional<std::string>)> completion) {
    getAutomaticLocation(address, timeZone, std::move(completion), 1);
}

void ParseConfigService::getAutomaticLocation(const std::string& address, const std::string& timeZone,
                                              std::function<void(std::optional<std::string>)> completion,
                                              int sessionRetries) {
    log::info(kLog, "PARSE call -- getAutomaticLocation started..");
    auto params = JSON::dictionaryLiteral({{"userip", address},
                                           {"userTimeZone", timeZone},
                                           {"platform", model_.platform},
                                           {"version", GlobalConstants::appVersion}});
    std::weak_ptr<bool> alive = alive_;
    parse_.callFunction("getAutomaticLocation", params, [this, alive, address, timeZone, completion,
                                                         sessionRetries](JSON result, OptionalParseError error) {
        if (alive.expired()) return;
        if (error && error->isInvalidSession() && onParseSessionExpired && sessionRetries > 0) {
            onParseSessionExpired([this, alive, address, timeZone, completion, sessionRetries] {
                if (!alive.expired()) getAutomaticLocation(address, timeZone, completion, sessionRetries - 1);
            });
            return;
        }
        if (error) {
            log::warning(kLog, "Erorr occurs during getAutomaticLocation() call: " + error->message);
            if (completion) completion(std::nullopt);
            return;
        }
        log::info(kLog, "getAutomaticLocation() result received!");
        auto id = result.string();
        if (id && !validObjectId(*id)) id.reset();
        if (completion) completion(id);
    });
}

void ParseConfigService::requestNotificationsData(
    std::function<void(std::optional<NotificationsData>, OptionalParseError)> completion) {
    hw::requestNotificationsData(parse_, model_.platform, GlobalConstants::appVersion, std::move(completion));
}

std::string ParseConfigService::deviceTimeZoneIdentifier() {
    if (const char* tz = std::getenv("TZ"); tz && *tz) {
        std::string zone = tz[0] == ':' ? tz + 1 : tz;
        if (auto at = zone.find("zoneinfo/"); at != std::string::npos) zone = zone.substr(at + 9);
        if (validZoneName(zone)) return zone;
    }
    char target[PATH_MAX];
    const auto n = ::readlink("/etc/localtime", target, sizeof target - 1);
    if (n > 0) {
        std::string link(target, static_cast<std::size_t>(n));
        if (auto at = link.find("zoneinfo/"); at != std::string::npos) {
            auto zone = link.substr(at + 9);
            if (validZoneName(zone)) return zone;
        }
    }
    std::ifstream in("/etc/timezone");
    std::string zone;
    if (in && std::getline(in, zone) && validZoneName(zone)) return zone;
    return "UTC";
}

}  // namespace hw
