#pragma once
#include <QSslConfiguration>
#include <optional>
#include <string_view>

namespace hw {

// The default TLS configuration plus the CAs in the PEM file that
// HAVENWAY_TEST_CA names; none when it is unset or names nothing usable.
// Per client, never the process-wide default.
std::optional<QSslConfiguration> testCaConfiguration(std::string_view logCategory);

}  // namespace hw
