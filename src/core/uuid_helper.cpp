#include "core/uuid_helper.h"

#include "core/udid_helper.h"
#include "platform/log.h"

namespace hw {
namespace {

constexpr std::string_view kLog = "UUIDHelper";

// The check itself, on whichever thread runs it; the identifier it found or stored, if any.
std::optional<std::string> check(SecretStore& keychain, const std::string& service, const std::string& device) {
    const SecretRead read = keychain.read(service, UUIDHelper::IDENTIFIER_NAME);
    if (read.status == SecretStatus::Error) {
        log::warning(kLog, "install identifier cannot be read; leaving it alone");
        return std::nullopt;
    }
    if (read.status == SecretStatus::Found && !read.data.empty()) return read.text();
    if (device.empty()) {
        log::warning(kLog, "no device identifier available; install identifier not stored");
        return std::nullopt;
    }
    if (!keychain.writeString(service, UUIDHelper::IDENTIFIER_NAME, device)) {
        log::error(kLog, "install identifier could not be stored");
        return std::nullopt;
    }
    log::info(kLog, "install identifier stored");
    return device;
}

}  // namespace

UUIDHelper::UUIDHelper(SecretStore& keychain, const SystemInfo& system, std::string service, SecretStoreQueue* queue)
    : keychain_(keychain), system_(system), service_(std::move(service)), queue_(queue) {}

std::optional<std::string> UUIDHelper::deviceIdentifier() const {
    std::string device = UDIDHelper(system_).serialNumber();
    if (device.empty()) return std::nullopt;
    return device;
}

std::optional<std::string> UUIDHelper::getUUID() {
    if (queue_) {
        std::lock_guard lock(mutex_);
        if (checked_->done && checked_->stored) return checked_->stored;
        if (!checked_->done) log::info(kLog, "the keychain has not answered yet; the device identifier stands in");
        return deviceIdentifier();
    }
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
    return deviceIdentifier();
}

void UUIDHelper::checkUUID() {
    if (!queue_) {
        std::lock_guard lock(mutex_);
        const SecretRead read = keychain_.read(service_, IDENTIFIER_NAME);
        // The stored one is kept without even looking at the hardware.
        if (read.status == SecretStatus::Found && !read.data.empty()) return;
        if (read.status == SecretStatus::Error) {
            log::warning(kLog, "install identifier cannot be read; leaving it alone");
            return;
        }
        check(keychain_, service_, deviceIdentifier().value_or(""));
        return;
    }
    // Read here, where it is cheap: the queued check then needs nothing of this helper.
    const std::string device = deviceIdentifier().value_or("");
    queue_->run([checked = checked_, answer = queue_->answerer(), service = service_, device](SecretStore& store) {
        auto stored = check(store, service, device);
        answer([checked, stored = std::move(stored)] {
            checked->done = true;
            checked->stored = stored;
        });
    });
}

}  // namespace hw
