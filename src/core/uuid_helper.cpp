#include "core/uuid_helper.h"

#include "core/udid_helper.h"
#include "platform/log.h"

namespace hw {

UUIDHelper::UUIDHelper(SecretStore& keychain, const SystemInfo& system, std::string service)
    : keychain_(keychain), system_(system), service_(std::move(service)) {}

std::optional<std::string> UUIDHelper::getUUID() {
    const SecretRead read = keychain_.read(service_, IDENTIFIER_NAME);
    switch (read.status) {
        case SecretStatus::Found:
            if (!read.data.empty()) return read.text();
            return std::nullopt;
        case SecretStatus::Absent:
            return std::nullopt;
        case SecretStatus::Error:
            break;
    }
    std::string device = UDIDHelper(system_).serialNumber();
    if (device.empty()) return std::nullopt;
    return device;
}

void UUIDHelper::checkUUID() {
    std::lock_guard lock(mutex_);
    const SecretRead read = keychain_.read(service_, IDENTIFIER_NAME);
    if (read.status == SecretStatus::Error) {
        log::warning("UUIDHelper", "install identifier cannot be read; leaving it alone");
        return;
    }
    if (read.status == SecretStatus::Found && !read.data.empty()) return;

    const std::string device = UDIDHelper(system_).serialNumber();
    if (device.empty()) {
        log::warning("UUIDHelper", "no device identifier available; install identifier not stored");
        return;
    }
    if (!keychain_.writeString(service_, IDENTIFIER_NAME, device)) {
        log::error("UUIDHelper", "install identifier could not be stored");
        return;
    }
    log::info("UUIDHelper", "install identifier stored");
}

}  // namespace hw
