// The state object's settings application, archives and map images.
#include <utility>

#include "core/application_model.h"
#include "core/settings_user_defaults.h"
#include "core/vpn_protocols.h"
#include "platform/log.h"

namespace hw {
namespace {

constexpr char logCategory[] = "ApplicationModel";
using Keys = SettingsUserDefaults;

template <typename T>
const T* valueOf(const SettingDict& values, const char* key) {
    const auto it = values.find(key);
    return it == values.end() ? nullptr : std::get_if<T>(&it->second.value);
}

// " PPTP" is not offered any more and reads, like any unknown text, as automatic.
VPNTypes protocolFromSettingsText(const std::string& text) {
    const auto protocol = vpnProtocolFromRawValue(text);
    if (!protocol || *protocol == VPNProtocols::PPTP) {
        log::info(logCategory, "Unknown protocol type set from Settings");
        return VPNTypesAutomatic;
    }
    switch (*protocol) {
        case VPNProtocols::OpenVPN: return VPNTypesOpenVPN;
        case VPNProtocols::L2TP: return VPNTypesL2TP;
        case VPNProtocols::IKEv2: return VPNTypesIKEv2;
        case VPNProtocols::IKEv2_StrongSwan: return VPNTypesIKEv2_StrongSwan;
        default: return VPNTypesAutomatic;
    }
}

}  // namespace

void ApplicationModel::applySettings(const SettingDict& values) {
    if (const auto* text = valueOf<std::string>(values, Keys::vpnProtocols)) {
        const VPNTypes chosen = protocolFromSettingsText(*text);
        if (chosen != vpnProtocol) {
            if (!skipVPNConnectorsNotification && ports_.connectionManager) {
                ports_.connectionManager->removeExistingConnection();
            }
            vpnProtocol = vpnTypeFromValue(preprocessVPNProtocolValue(chosen)).value_or(VPNTypesAutomatic);
            vpnProtocolReadable = getReadableVPNProtocol(vpnProtocol);
            const auto observers = onVPNProtocolUpdatedObservers_;
            for (const auto& observer : observers) {
                if (observer) observer(vpnProtocolReadable);
            }
        }
    }
    if (const auto* v = valueOf<bool>(values, Keys::signMeInWhenHavenwayStarts); v && *v != signMeInWhenHavenwayStarts) {
        signMeInWhenHavenwayStarts = *v;
    }
    if (const auto* v = valueOf<bool>(values, Keys::startMinimized); v && *v != startMinimized) startMinimized = *v;
    if (const auto* v = valueOf<bool>(values, Keys::startOnOsStartup); v && *v != startOnOsStartup()) {
        setStartOnOsStartup(*v);
    }
    if (const auto* v = valueOf<bool>(values, Keys::wi_fi_SecurityEnabled)) {
        if (*v != wi_fi_SecurityEnabled) wi_fi_SecurityEnabled = *v;
        if (!wi_fi_SecurityEnabled) unsecured_Wi_Fi_VPN_activated = false;
    }
    if (const auto* v = valueOf<bool>(values, Keys::useNetworkLock); v && !*v) {
        // Turning the lock off restarts the reachability watch; the store keeps its value.
        if (useNetworkLock()) {
            if (InternetReachabilityPort* reachability = ports_.internetReachability) {
                reachability->stopReachability();
                reachability->reach(reachabilityDomainName);
            }
        }
        // A lock the user turned off must not keep blocking, whatever the
        // store says by now (the settings window saves before it applies); a
        // running tunnel keeps it until the tunnel ends (the pane lifts it then).
        if (networkLockActivated && currentConnectionState() != ConnectionStates::connected) releaseNetworkLock();
    }
    if (const auto* v = valueOf<bool>(values, Keys::showNotificationsOnConnectDisconnect);
        v && *v != showNotificationsOnConnectDisconnect) {
        showNotificationsOnConnectDisconnect = *v;
    }
    saveTrustedNetworks();
}

void ApplicationModel::applyPrivateSettings(const SettingDict& values) {
    if (const auto* date = valueOf<Date>(values, Keys::vpnConfigUpdatedAt); date && vpnConfigUpdatedAt != *date) {
        vpnConfigUpdatedAt = *date;
    }
    if (const auto* id = valueOf<std::string>(values, Keys::lastLocation)) pendingLocationIDToSet = *id;
}

std::string ApplicationModel::getReadableVPNProtocol(std::int64_t value) {
    switch (value) {
        case VPNTypesAutomatic: return std::string(rawValue(VPNProtocols::Automatic));
        case VPNTypesOpenVPN: return std::string(rawValue(VPNProtocols::OpenVPN));
        case VPNTypesL2TP: return std::string(rawValue(VPNProtocols::L2TP));
        case VPNTypesPPTP: return std::string(rawValue(VPNProtocols::PPTP));
        case VPNTypesIKEv2: return std::string(rawValue(VPNProtocols::IKEv2));
        case VPNTypesIKEv2_StrongSwan: return std::string(rawValue(VPNProtocols::IKEv2_StrongSwan));
        default:
            log::info(logCategory, "Unknown protoloc type set from Settings");
            return {};
    }
}

void ApplicationModel::saveTrustedNetworks() {
    store_.set(Keys::trustedNetworks, archiveTrustedNetworks(trustedNetworks));
    store_.synchronize();
}

void ApplicationModel::restoreTrustedNetworks() {
    if (const auto data = store_.dataForKey(Keys::trustedNetworks)) {
        if (auto items = unarchiveTrustedNetworks(*data)) {
            trustedNetworks = std::move(*items);
            return;
        }
    }
    log::info(logCategory, "Failed to restore trusted networks data");
}

void ApplicationModel::saveCachedSmartWidgetData(const SmartWidgetData& record) {
    store_.set(Keys::smartWidgetData, record.archive());
    store_.synchronize();
}

std::shared_ptr<SmartWidgetData> ApplicationModel::loadCachedSmartWidgetData() {
    if (const auto data = store_.dataForKey(Keys::smartWidgetData)) {
        if (auto record = SmartWidgetData::unarchive(smartWidgetContext_, *data)) return record;
    }
    log::info(logCategory, "Failed to restore Smart Widget data");
    return nullptr;
}

void ApplicationModel::setMainViewMapPFFile(std::shared_ptr<BackendFile> file) {
    mainViewMapPFFile_ = std::move(file);
    // A newer file makes the result of an older one stale.
    const std::uint64_t generation = ++mapGeneration_;
    if (!mainViewMapPFFile_) return;
    std::weak_ptr<ApplicationModel*> alive = self_;
    auto fileRef = mainViewMapPFFile_;
    if (fileRef->isDataAvailable()) {
        background_.async([alive, fileRef, generation, &queue = mainQueue_, &codec = imageCodec_] {
            auto data = fileRef->getData();
            if (!data) return;
            auto image = codec.decode(*data);
            if (!image) return;
            queue.post([alive, generation, image = std::move(image)] {
                if (auto self = alive.lock()) (*self)->deliverMapImage(image, false, generation);
            });
        });
        return;
    }
    fileRef->getDataInBackground([alive, generation, &queue = mainQueue_](std::optional<Bytes> data) {
        if (!data) return;
        queue.runOnMain([alive, generation, data = std::move(*data)]() mutable {
            if (auto self = alive.lock()) (*self)->decodeMapImage(std::move(data), MapKind::light, true, generation);
        });
    });
}

void ApplicationModel::setMainViewMapDarkPFFile(std::shared_ptr<BackendFile> file) {
    mainViewMapDarkPFFile_ = std::move(file);
    const std::uint64_t generation = ++darkMapGeneration_;
    if (!mainViewMapDarkPFFile_) return;
    std::weak_ptr<ApplicationModel*> alive = self_;
    mainViewMapDarkPFFile_->getDataInBackground([alive, generation, &queue = mainQueue_](std::optional<Bytes> data) {
        if (!data) return;
        queue.runOnMain([alive, generation, data = std::move(*data)]() mutable {
            if (auto self = alive.lock()) (*self)->decodeMapImage(std::move(data), MapKind::dark, true, generation);
        });
    });
}

void ApplicationModel::decodeMapImage(Bytes data, MapKind kind, bool fetched, std::uint64_t generation) {
    std::weak_ptr<ApplicationModel*> alive = self_;
    auto shared = std::make_shared<const Bytes>(std::move(data));
    background_.async([alive, shared, kind, fetched, generation, &queue = mainQueue_, &codec = imageCodec_] {
        auto image = codec.decode(*shared);
        if (!image) return;
        if (kind == MapKind::dark) {
            // Proven to decode; its pixels would idle in memory until a connect.
            image.reset();
            queue.post([alive, shared, generation] {
                if (auto self = alive.lock()) (*self)->deliverDarkMap(shared, generation);
            });
            return;
        }
        queue.post([alive, fetched, generation, image = std::move(image)] {
            if (auto self = alive.lock()) (*self)->deliverMapImage(image, fetched, generation);
        });
    });
}

void ApplicationModel::deliverDarkMap(std::shared_ptr<const Bytes> data, std::uint64_t generation) {
    if (generation == darkMapGeneration_) mainViewMapDarkData_ = std::move(data);
}

void ApplicationModel::decodeMainViewMapDarkImage(std::function<void(ImagePtr)> done) const {
    if (!mainViewMapDarkData_) {
        mainQueue_.post([done = std::move(done)] { done(nullptr); });
        return;
    }
    // A decode is milliseconds of the main thread, at the moment a connect
    // is told.
    background_.async([data = mainViewMapDarkData_, done = std::move(done), &queue = mainQueue_, &codec = imageCodec_] {
        queue.post([image = codec.decode(*data), done] { done(image); });
    });
}

void ApplicationModel::deliverMapImage(ImagePtr image, bool fetched, std::uint64_t generation) {
    if (generation != mapGeneration_) return;
    mainViewMapImage = std::move(image);
    if (fetched) mainViewMapPFFileLoaded = true;
    if (ports_.shell) ports_.shell->updateMainViewMapImage();
}

}  // namespace hw
