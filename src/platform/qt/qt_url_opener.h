#pragma once
#include "platform/url_opener.h"

namespace hw {

// Hands addresses to the desktop through QDesktopServices (xdg-open and friends).
class QtURLOpener final : public URLOpener {
protected:
    bool openAllowedURL(const std::string& url) override;
};

}  // namespace hw
