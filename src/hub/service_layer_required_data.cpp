#include "core/run_on_main_queue.h"
#include "core/settings_user_defaults.h"
#include "hub/service_layer.h"
#include "platform/log.h"
#include "services/locations_list_model.h"

namespace hw {
namespace {

constexpr char kLog[] = "ServiceLayer";
constexpr double kRefreshUserIPAddressDelayMs = 2000;

}  // namespace

// One run of loadRequiredData; runs share nothing.
struct ServiceLayer::RequiredDataRun {
    bool configsLoaded = false;
    bool addressLoaded = false;
    bool completed = false;
    std::function<void()> completion;
};

void ServiceLayer::loadRequiredData(std::function<void()> completion,
                                    std::function<void(const std::string& error)> onFailure) {
    auto run = std::make_shared<RequiredDataRun>();
    run->completion = std::move(completion);
    loadParseConfig(
        false,
        [this, run] {
            startAddressBranch(run);
            startLocationsBranch(run);
        },
        [onFailure = std::move(onFailure)](const std::optional<std::string>& error) {
            const std::string text = error.value_or("unknown error");
            log::error(kLog, "loadRequiredData: remote configuration failed: " + text);
            // The load stops here; the caller learns why instead of waiting.
            if (onFailure) onFailure(text);
        });
}

void ServiceLayer::startAddressBranch(const std::shared_ptr<RequiredDataRun>& run) {
    const auto url = appModel_->publicIPInfoUrl;
    if (!url || url->empty() || !parseConfigService_.port) {
        // Counts as a failed lookup: nothing to ask the automatic location with,
        // and no country to choose a mirror for.
        log::warning(kLog, "loadRequiredData: no public address lookup configured");
        appModel_->mainDomainName = appModel_->parseMainDomainName;
        run->addressLoaded = true;
        branchFinished(run);
        return;
    }
    std::weak_ptr<bool> alive = alive_;
    parseConfigService_.port->requestPublicIPInfo(*url, [this, alive, run](PublicAddressInfo info) {
        if (alive.expired()) return;
        onMain([this, alive, run, info] {
            parseConfigService_.port->getAutomaticLocation(
                info.address, info.timeZone, [this, alive, run, info](std::optional<std::string> objectId) {
                    if (alive.expired()) return;
                    onMain([this, run, info, objectId] { onAddressResolved(run, info, objectId); });
                });
        });
    });
}

void ServiceLayer::onAddressResolved(const std::shared_ptr<RequiredDataRun>& run, const PublicAddressInfo& info,
                                     const std::optional<std::string>& objectId) {
    if (objectId) {
        const auto previous = appModel_->explicitAutomaticItemLocationID();
        appModel_->setExplicitAutomaticItemLocationID(objectId);
        if (previous != objectId) updateAutomaticLocation();
    }
    setMirrorDomainIfRequired(appModel_->mirrorDomainCountries, info.countryCode);
    storePublicAddress(info);
    run->addressLoaded = true;
    branchFinished(run);
}

void ServiceLayer::startLocationsBranch(const std::shared_ptr<RequiredDataRun>& run) {
    if (!vpnConfigsService_.port) {
        run->configsLoaded = true;
        branchFinished(run);
        return;
    }
    std::weak_ptr<bool> alive = alive_;
    vpnConfigsService_.port->loadLocationsList(
        shouldUseCachedLocations(), [this, alive, run](std::shared_ptr<LocationsListModel> list) {
            if (alive.expired()) return;
            onMain([this, run, list = std::move(list)] {
                if (list && !list->items().empty()) {
                    appModel_->setLocationsListModel(list);
                    appModel_->updateVPNConfigUpdatedAt();
                } else {
                    // The stored date stays too, so the next run fetches again.
                    log::warning(kLog, "loadRequiredData: locations list not loaded; the previous list is kept");
                }
                run->configsLoaded = true;
                branchFinished(run);
            });
        });
}

void ServiceLayer::branchFinished(const std::shared_ptr<RequiredDataRun>& run) {
    if (!run->configsLoaded || !run->addressLoaded || run->completed) return;
    run->completed = true;
    postProcessingBeforeDataLoadCompleted();
    if (run->completion) run->completion();
}

bool ServiceLayer::shouldUseCachedLocations() const {
    const bool skip = store_.boolForKey(SettingsUserDefaults::skipCachedDataLoad);
    const auto& announced = appModel_->parseVPNConfigUpdatedAt;
    const auto& stored = appModel_->vpnConfigUpdatedAt;
    bool useCache = !skip;
    if (announced) {
        if (!stored || announced->secondsSince1970 > stored->secondsSince1970) useCache = false;
    }
    return useCache && !options_.isEnterpriseVersion;
}

void ServiceLayer::postProcessingBeforeDataLoadCompleted() {
    updateAutomaticLocation();
    if (appModel_->useAutomaticLocation()) return;
    const auto pending = appModel_->pendingLocationIDToSet;
    if (!pending) return;
    const auto& list = appModel_->locationsListModel();
    if (!list) return;
    if (auto item = list->itemWithObjectId(*pending)) appModel_->setCurrentLocation(std::move(item));
}

void ServiceLayer::updateAutomaticLocation() {
    const auto& list = appModel_->locationsListModel();
    if (!list) return;
    const std::string id = appModel_->explicitAutomaticItemLocationID().value_or(appModel_->automaticItemLocationID);
    if (auto item = list->itemWithObjectId(id)) appModel_->currentAutomaticLocation = getAutomaticLocationModel(*item);
    // With no automatic location known yet the selection stays rather than
    // becoming none.
    if (appModel_->useAutomaticLocation() && appModel_->currentAutomaticLocation) {
        appModel_->setCurrentLocation(appModel_->currentAutomaticLocation);
    }
}

std::shared_ptr<LocationsListItemModel> ServiceLayer::getAutomaticLocationModel(
    const LocationsListItemModel& item) const {
    auto copy = item.clone();
    copy->isAutomaticLocationItem = true;
    return copy;
}

void ServiceLayer::onAutomaticLocationLoaded(const std::string& objectId) {
    const auto& list = appModel_->locationsListModel();
    if (!list) return;
    if (auto item = list->itemWithObjectId(objectId)) appModel_->currentAutomaticLocation = getAutomaticLocationModel(*item);
}

void ServiceLayer::refreshUserIPAddress(std::function<void()> completion) {
    const auto url = appModel_->publicIPInfoUrl;
    if (!url || !parseConfigService_.port) return;
    std::weak_ptr<bool> alive = alive_;
    // Only the latest ask's answer stands: an earlier one may have gone through a tunnel since ended.
    const auto ask = ++publicAddressAsks_;
    auto lookup = [this, alive, ask, url = *url, completion = std::move(completion)] {
        if (alive.expired()) return;
        parseConfigService_.port->requestPublicIPInfo(url, [this, alive, ask, completion](PublicAddressInfo info) {
            if (alive.expired()) return;
            onMain([this, ask, completion, info] {
                if (ask != publicAddressAsks_) return;
                storePublicAddress(info);
                if (completion) completion();
            });
        });
    };
    runOnMainQueueAfter(mainQueue_, std::move(lookup), kRefreshUserIPAddressDelayMs);
}

void ServiceLayer::storePublicAddress(const PublicAddressInfo& info) {
    appModel_->userPublicIP = info.address;
    if (info.failed) return;
    appModel_->userCountry = info.countryCode;
    appModel_->userContinent = info.timeZone;
}

void ServiceLayer::setMirrorDomainIfRequired(const std::optional<std::vector<std::string>>& /*countries*/,
                                             const std::string& countryCode) {
    if (const auto& entries = appModel_->domainForCountriesList) {
        for (const auto& entry : *entries) {
            for (const auto& country : entry.countries) {
                if (country == countryCode) {
                    appModel_->mainDomainName = entry.domain;
                    return;
                }
            }
        }
    }
    appModel_->mainDomainName = appModel_->parseMainDomainName;
}

}  // namespace hw
