#pragma once
#include <string>

namespace hw {

// A host name or IPv4 address, optionally with ":port", as the backend hands
// it over: letters, digits, '-', '.', at most 253 characters, labels of at
// most 63. Nothing that could change the URL it goes into.
bool isValidHostName(const std::string& host);
// An http or https URL with a valid host and no whitespace or control characters.
bool isValidProbeURL(const std::string& url);

}  // namespace hw
