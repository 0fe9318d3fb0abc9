#pragma once
#include <string>
#include <vector>

#include "platform/url_opener.h"

namespace hw::test {

// Keeps every address that passed the scheme check instead of opening it.
class RecordingURLOpener final : public URLOpener {
public:
    std::vector<std::string> opened;
    bool answer = true;

protected:
    bool openAllowedURL(const std::string& url) override {
        opened.push_back(url);
        return answer;
    }
};

}  // namespace hw::test
