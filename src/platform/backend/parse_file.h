#pragma once
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "json/json.h"
#include "platform/backend/parse_error.h"
#include "platform/settings_store.h"

namespace hw {

class ParseCore;

// A file held by the backend: made from bytes or a local path (and uploaded with the
// object that holds it), or read from an object's field. Its data is cached in memory
// and in the local datastore.
class ParseFile : public std::enable_shared_from_this<ParseFile> {
public:
    using DataReply = std::function<void(std::optional<Bytes> data, OptionalParseError error)>;

    ParseFile(std::weak_ptr<ParseCore> core, std::string name, std::string url, std::optional<Bytes> data,
              std::string contentType);

    std::string name() const;
    std::string url() const;
    const std::string& contentType() const { return contentType_; }
    bool isUploaded() const { return !url().empty(); }

    // The data is in the cache, so getData answers at once.
    bool isDataAvailable() const;
    // The cached data, or an error (code 120) when it is not cached: this never waits
    // on the network, so it is safe on any thread, the main one included.
    std::optional<Bytes> getData(ParseError* error = nullptr) const;
    // From the cache, else downloaded; the reply comes on the main queue.
    void getDataInBackground(DataReply reply);

    // {"__type": "File", "name", "url"}
    JSON toJSON() const;
    void markUploaded(std::string name, std::string url);

private:
    std::weak_ptr<ParseCore> core_;
    mutable std::mutex mutex_;
    std::string name_;
    std::string url_;
    std::optional<Bytes> data_;
    std::string contentType_;
};

using ParseFilePtr = std::shared_ptr<ParseFile>;

}  // namespace hw
