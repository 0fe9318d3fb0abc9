#include "platform/http.h"

#include <strings.h>

namespace hw {

std::optional<std::string> HttpResponse::header(const std::string& name) const {
    for (const auto& [k, v] : headers) {
        if (strcasecmp(k.c_str(), name.c_str()) == 0) return v;
    }
    return std::nullopt;
}

}  // namespace hw
