#pragma once
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/backend/parse_file.h"
#include "platform/image_codec.h"
#include "platform/main_queue.h"

namespace hw {

// Images of backend files (flags, icons): the file's data fetched, decoded
// off the main thread, cached by the file's address and answered on the main
// queue. Requests for a file already on its way share that one fetch.
// Main thread only.
class RemoteImageLoader {
public:
    // Null when the file could not be fetched or decoded.
    using Reply = std::function<void(ImagePtr)>;

    RemoteImageLoader(MainQueue& main, BackgroundQueue& background, const ImageCodec& codec);
    ~RemoteImageLoader();
    RemoteImageLoader(const RemoteImageLoader&) = delete;
    RemoteImageLoader& operator=(const RemoteImageLoader&) = delete;

    // The address a file is cached under.
    static std::string keyOf(const ParseFile& file);

    void load(const ParseFilePtr& file, Reply reply);
    // What the cache holds, without asking.
    ImagePtr cached(const std::string& key) const;
    // Bytes of the decoded images held.
    std::size_t cachedBytes() const;
    std::size_t cachedCount() const { return cache_.size(); }

private:
    void decoded(const std::string& key, ImagePtr image);

    MainQueue& main_;
    BackgroundQueue& background_;
    const ImageCodec& codec_;
    std::unordered_map<std::string, ImagePtr> cache_;
    std::unordered_map<std::string, std::vector<Reply>> waiting_;
    std::shared_ptr<RemoteImageLoader*> self_;
};

}  // namespace hw
