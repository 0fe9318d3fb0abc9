#pragma once
#include <string>
#include <string_view>

namespace hw {

// Opens web and mail addresses with the desktop's handler. Only http, https
// and mailto ever reach the desktop: anything else is refused and logged
// without the address, which can carry tokens.
class URLOpener {
public:
    virtual ~URLOpener() = default;

    // False when refused or when the desktop could not open it.
    bool openURL(std::string_view url);

    static bool isOpenable(std::string_view url);

protected:
    virtual bool openAllowedURL(const std::string& url) = 0;
};

}  // namespace hw
