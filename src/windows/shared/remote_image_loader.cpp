#include "windows/shared/remote_image_loader.h"

#include "platform/log.h"

namespace hw {

namespace {
constexpr char kLog[] = "RemoteImageLoader";
}

RemoteImageLoader::RemoteImageLoader(MainQueue& main, BackgroundQueue& background, const ImageCodec& codec)
    : main_(main), background_(background), codec_(codec), self_(std::make_shared<RemoteImageLoader*>(this)) {}

RemoteImageLoader::~RemoteImageLoader() { *self_ = nullptr; }

std::string RemoteImageLoader::keyOf(const ParseFile& file) {
    auto url = file.url();
    return url.empty() ? file.name() : url;
}

void RemoteImageLoader::load(const ParseFilePtr& file, Reply reply) {
    if (!file) {
        main_.post([reply = std::move(reply)] { reply(nullptr); });
        return;
    }
    const auto key = keyOf(*file);
    if (auto hit = cache_.find(key); hit != cache_.end()) {
        main_.post([reply = std::move(reply), image = hit->second] { reply(image); });
        return;
    }
    auto& queue = waiting_[key];
    queue.push_back(std::move(reply));
    if (queue.size() > 1) return;  // already on its way

    std::weak_ptr<RemoteImageLoader*> weak = self_;
    file->getDataInBackground([weak, key, this](std::optional<Bytes> data, OptionalParseError error) {
        if (weak.expired() || !*weak.lock()) return;
        if (!data || error) {
            // Addresses can carry tokens: the file's key stays out of the log.
            log::info(kLog, "a file could not be fetched");
            main_.post([weak, key, this] {
                if (auto s = weak.lock(); s && *s) decoded(key, nullptr);
            });
            return;
        }
        background_.async([weak, key, this, data = std::move(*data)] {
            auto image = codec_.decode(data);
            main_.post([weak, key, this, image = std::move(image)] {
                if (auto s = weak.lock(); s && *s) decoded(key, image);
            });
        });
    });
}

void RemoteImageLoader::decoded(const std::string& key, ImagePtr image) {
    if (image) cache_[key] = image;
    auto it = waiting_.find(key);
    if (it == waiting_.end()) return;
    auto replies = std::move(it->second);
    waiting_.erase(it);
    for (auto& reply : replies) reply(image);
}

ImagePtr RemoteImageLoader::cached(const std::string& key) const {
    auto it = cache_.find(key);
    return it == cache_.end() ? nullptr : it->second;
}

std::size_t RemoteImageLoader::cachedBytes() const {
    std::size_t total = 0;
    for (const auto& [key, image] : cache_) total += key.size() + (image ? image->rgba.size() : 0);
    return total;
}

}  // namespace hw
