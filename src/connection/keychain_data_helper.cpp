#include "connection/keychain_data_helper.h"

#include "core/global_constants.h"
#include "platform/log.h"

namespace hw {

namespace {
constexpr char kLog[] = "keychain";
}

std::string KeychainDataHelper::getAppName() { return GlobalConstants::bundleIdentifier; }

void KeychainDataHelper::storeData(const std::string& key, const Bytes& data) {
    log::info(kLog, "Store Data");
    if (!store_.write(getAppName(), key, data)) log::error(kLog, "Unable add item with key =" + key + " error:-1");
}

std::optional<Bytes> KeychainDataHelper::getData(const std::string& key) {
    SecretRead r = store_.read(getAppName(), key);
    if (r.status == SecretStatus::Found) return std::move(r.data);
    int code = r.status == SecretStatus::Absent ? -25300 : -1;
    log::warning(kLog, "Unable to fetch item for key " + key + " with error:" + std::to_string(code));
    return std::nullopt;
}

}  // namespace hw
