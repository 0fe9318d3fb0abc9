#pragma once
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/http.h"
#include "platform/image_codec.h"
#include "platform/main_queue.h"

namespace hw {

class SmartWidgetData;

// What widget records need to fetch, cache and archive their icon. The state
// object owns it and sets the archiving hook; records share it.
struct SmartWidgetContext {
    SmartWidgetContext(HttpClient& http, MainQueue& mainQueue, BackgroundQueue& background, const ImageCodec& codec)
        : http(http), mainQueue(mainQueue), background(background), codec(codec) {}
    HttpClient& http;
    MainQueue& mainQueue;
    BackgroundQueue& background;
    const ImageCodec& codec;
    // Archives a record into the settings; unset once the state object is gone.
    std::function<void(const SmartWidgetData&)> saveCachedSmartWidgetData;
};

// The information widget's record: what the tile shows and its icon, cached
// as a PNG file in a folder of its own. Used on the main thread.
class SmartWidgetData : public std::enable_shared_from_this<SmartWidgetData> {
    struct Token {};

public:
    static constexpr char IMAGES_CACHE_DIRECTORY[] = "SmartWidgetCache";
    static constexpr char defaultCachedFilename[] = "smartWidgetIcon";

    static std::shared_ptr<SmartWidgetData> create(std::shared_ptr<SmartWidgetContext> context, std::string link,
                                                   std::string title, std::string image, std::string subtitle,
                                                   std::string link_text);
    // A record from its stored form; nothing unless the data is a JSON object.
    // Fields of the wrong kind read as "".
    static std::shared_ptr<SmartWidgetData> unarchive(std::shared_ptr<SmartWidgetContext> context, const Bytes& data);

    SmartWidgetData(Token, std::shared_ptr<SmartWidgetContext> context);

    std::string link;
    std::string title;
    std::string image;
    std::string subtitle;
    std::string link_text;
    ImagePtr imageData;
    std::string imageCachedFilename = defaultCachedFilename;

    bool failedToLoadCachedData() const { return link.empty() || title.empty() || subtitle.empty(); }
    bool failedToLoadCachedImage() const { return imageData == nullptr; }

    // Fetches the icon from `image`; on success keeps it, writes the cache
    // file and archives the record. onLoaded runs last, on the main queue,
    // whatever happened.
    void loadImageDataOnLoaded(std::function<void()> onLoaded);
    // One download. The image reaches onLoaded on the main queue, nothing on
    // any failure (null: bad address, transport error, status other than 200, a
    // MIME type not starting with "image", undecodable data); decoding runs
    // on the background queue.
    void downloadImageFromUrl(const std::string& url, std::function<void(ImagePtr)> onLoaded);
    // Writes the icon file (when there is an icon) and archives the record.
    void saveDataToCache();
    // False when the name is unsafe, the image cannot be encoded or the file
    // cannot be written.
    bool saveSmartWidgetImageIntoCache(const std::string& fileName, const Image& image) const;
    ImagePtr loadCachedImageForSmartWidgetWithFileName(const std::string& fileName) const;

    Bytes archive() const;

    // A cache file name must stay inside the cache folder: one non-empty
    // component, not "." or "..", without "/" or NUL.
    static bool isSafeCacheFileName(const std::string& name);
    // "<data folder>/SmartWidgetCache", created 0700 on first use and then
    // kept for the process.
    static std::string smartWidgetImagesPath();
    static std::optional<std::string> determinedSmartWidgetImagesPath();
    static void setDeterminedSmartWidgetImagesPath(std::optional<std::string> path);

private:
    std::shared_ptr<SmartWidgetContext> context_;
};

// The last "/"-separated piece of an icon address, as the cache file name.
std::string smartWidgetCachedFilename(const std::string& imageAddress);

}  // namespace hw
