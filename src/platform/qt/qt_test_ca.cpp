#include "platform/qt/qt_test_ca.h"

#include <QSslCertificate>
#include <cstdlib>
#include <string>

#include "platform/log.h"

namespace hw {

std::optional<QSslConfiguration> testCaConfiguration(std::string_view logCategory) {
    const char* path = std::getenv("HAVENWAY_TEST_CA");
    if (!path || !*path) return std::nullopt;
    const auto certs = QSslCertificate::fromPath(QString::fromLocal8Bit(path), QSsl::Pem);
    if (certs.isEmpty()) {
        log::warning(logCategory, std::string("HAVENWAY_TEST_CA names no readable PEM certificate: ") + path);
        return std::nullopt;
    }
    log::info(logCategory, std::string("trusting the test CA in ") + path);
    auto tls = QSslConfiguration::defaultConfiguration();
    tls.addCaCertificates(certs);
    return tls;
}

}  // namespace hw
