// Backend replies as the client reads them: error bodies, objects with their pointers,
// files and dates, and the datastore round trip of an object.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/backend/parse_core.h"
#include "platform/backend/parse_object.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string body(reinterpret_cast<const char*>(data), size);
    hw::HttpResponse response;
    response.status = size % 2 ? 400 : 502;
    response.body = body;
    (void)hw::ParseCore::errorFrom(response);

    const auto json = hw::JSON::parse(body);
    const auto object = hw::ParseObject::fromJSON("VPNConfig", json, {});
    for (const auto& [key, value] : json.dictionaryValue()) {
        (void)object.file(key);
        (void)object.pointerId(key);
        (void)hw::parseDate(value);
    }
    const auto stored = object.toJSON().rawString();
    if (stored) (void)hw::ParseObject::fromJSON("VPNConfig", hw::JSON::parse(*stored), {});
    (void)object.bodyJSON().rawString();
    return 0;
}
