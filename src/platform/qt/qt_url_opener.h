#pragma once
#include "platform/url_opener.h"

namespace hw {

// Hands addresses to the desktop through xdg-open, whose output is dropped.
class QtURLOpener final : public URLOpener {
protected:
    bool openAllowedURL(const std::string& url) override;
};

}  // namespace hw
