#include "core/smart_widget_data.h"

#include <algorithm>
#include <cctype>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string_view>

#include "platform/log.h"
#include "platform/paths.h"

namespace hw {
namespace {

constexpr char logCategory[] = "SmartWidget";
// An icon is a few kilobytes; anything this large in the cache is not ours.
constexpr std::size_t maxCachedIconBytes = 16 * 1024 * 1024;

std::mutex& pathMutex() {
    static std::mutex mutex;
    return mutex;
}
std::optional<std::string>& determinedPath() {
    static std::optional<std::string> path;
    return path;
}

// Only http and https with a host, and nothing a request line could choke on.
bool isDownloadableAddress(const std::string& url) {
    std::string lower = url;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    std::size_t hostStart = 0;
    if (lower.starts_with("https://")) hostStart = 8;
    else if (lower.starts_with("http://")) hostStart = 7;
    else return false;
    if (hostStart >= url.size() || url[hostStart] == '/' || url[hostStart] == '?' || url[hostStart] == '#') return false;
    return std::none_of(url.begin(), url.end(), [](unsigned char c) { return c <= 0x20 || c == 0x7f; });
}

bool isImageMimeType(const HttpResponse& response) {
    const auto type = response.header("Content-Type");
    if (!type) return false;
    std::string lower = *type;
    lower.erase(0, std::min(lower.size(), lower.find_first_not_of(" \t")));
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    return lower.starts_with("image");
}

std::string stringField(const nlohmann::json& object, const char* key) {
    const auto it = object.find(key);
    return (it != object.end() && it->is_string()) ? it->get<std::string>() : std::string();
}

}  // namespace

std::string smartWidgetCachedFilename(const std::string& imageAddress) {
    const auto slash = imageAddress.rfind('/');
    return slash == std::string::npos ? imageAddress : imageAddress.substr(slash + 1);
}

SmartWidgetData::SmartWidgetData(Token, std::shared_ptr<SmartWidgetContext> context) : context_(std::move(context)) {}

std::shared_ptr<SmartWidgetData> SmartWidgetData::create(std::shared_ptr<SmartWidgetContext> context, std::string link,
                                                         std::string title, std::string image, std::string subtitle,
                                                         std::string link_text) {
    auto record = std::make_shared<SmartWidgetData>(Token{}, std::move(context));
    record->link = std::move(link);
    record->title = std::move(title);
    record->image = std::move(image);
    record->subtitle = std::move(subtitle);
    record->link_text = std::move(link_text);
    record->imageCachedFilename = smartWidgetCachedFilename(record->image);
    return record;
}

std::shared_ptr<SmartWidgetData> SmartWidgetData::unarchive(std::shared_ptr<SmartWidgetContext> context,
                                                            const Bytes& data) {
    const nlohmann::json root = nlohmann::json::parse(data.begin(), data.end(), nullptr, false);
    if (!root.is_object()) return nullptr;
    auto record = std::make_shared<SmartWidgetData>(Token{}, std::move(context));
    record->link = stringField(root, "link");
    record->title = stringField(root, "title");
    record->subtitle = stringField(root, "subtitle");
    record->link_text = stringField(root, "link_text");
    record->image = stringField(root, "image");
    const auto cached = root.find("imageCachedFilename");
    if (cached != root.end() && cached->is_string()) {
        record->imageCachedFilename = cached->get<std::string>();
        record->imageData = record->loadCachedImageForSmartWidgetWithFileName(record->imageCachedFilename);
    } else {
        record->image.clear();
    }
    return record;
}

Bytes SmartWidgetData::archive() const {
    nlohmann::json root = nlohmann::json::object();
    root["link"] = link;
    root["title"] = title;
    root["subtitle"] = subtitle;
    root["image"] = image;
    root["imageCachedFilename"] = imageCachedFilename;
    root["link_text"] = link_text;
    const std::string text = root.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    return Bytes(text.begin(), text.end());
}

void SmartWidgetData::loadImageDataOnLoaded(std::function<void()> onLoaded) {
    auto self = shared_from_this();
    downloadImageFromUrl(image, [self, onLoaded = std::move(onLoaded)](ImagePtr loaded) {
        if (loaded) {
            self->imageData = std::move(loaded);
            self->saveDataToCache();
        }
        if (onLoaded) onLoaded();
    });
}

void SmartWidgetData::downloadImageFromUrl(const std::string& url,
                                           std::function<void(ImagePtr)> onLoaded) {
    auto context = context_;
    auto finish = [onLoaded = std::move(onLoaded)](ImagePtr result) {
        if (onLoaded) onLoaded(std::move(result));
    };
    if (!isDownloadableAddress(url)) {
        log::warning(logCategory, "icon address is not a web address; nothing downloaded");
        context->mainQueue.post([finish] { finish(nullptr); });
        return;
    }
    HttpRequest request;
    request.url = url;
    context->http.send(std::move(request), [context, finish](HttpResponse response) {
        if (response.error || response.status != 200 || response.body.empty() || !isImageMimeType(response)) {
            finish(nullptr);
            return;
        }
        auto body = std::make_shared<Bytes>(response.body.begin(), response.body.end());
        context->background.async([context, finish, body] {
            auto decoded = context->codec.decode(*body);
            context->mainQueue.post([finish, decoded = std::move(decoded)] { finish(decoded); });
        });
    });
}

void SmartWidgetData::saveDataToCache() {
    if (imageData) (void)saveSmartWidgetImageIntoCache(imageCachedFilename, *imageData);
    if (context_->saveCachedSmartWidgetData) context_->saveCachedSmartWidgetData(*this);
}

bool SmartWidgetData::saveSmartWidgetImageIntoCache(const std::string& fileName, const Image& icon) const {
    if (!isSafeCacheFileName(fileName)) {
        log::warning(logCategory, "refused an unsafe icon cache file name");
        return false;
    }
    const std::string folder = smartWidgetImagesPath();
    if (folder.empty()) return false;
    const auto png = context_->codec.encodePNG(icon);
    if (!png) return false;
    const std::string_view bytes(reinterpret_cast<const char*>(png->data()), png->size());
    return paths::writeFileAtomically(folder + "/" + fileName, bytes, 0600);
}

ImagePtr SmartWidgetData::loadCachedImageForSmartWidgetWithFileName(const std::string& fileName) const {
    if (!isSafeCacheFileName(fileName)) return nullptr;
    const std::string folder = smartWidgetImagesPath();
    if (folder.empty()) return nullptr;
    std::string text;
    if (paths::readFile(folder + "/" + fileName, text, maxCachedIconBytes) != paths::ReadStatus::Ok) return nullptr;
    return context_->codec.decode(Bytes(text.begin(), text.end()));
}

bool SmartWidgetData::isSafeCacheFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

std::string SmartWidgetData::smartWidgetImagesPath() {
    std::lock_guard lock(pathMutex());
    auto& determined = determinedPath();
    if (determined) return *determined;
    const std::string folder = paths::dataDir() + "/" + IMAGES_CACHE_DIRECTORY;
    // A folder that cannot be made shows later as a failed write.
    std::string error;
    if (!paths::ensurePrivateDir(folder, &error)) log::warning(logCategory, "cache folder: " + error);
    determined = folder;
    return folder;
}

std::optional<std::string> SmartWidgetData::determinedSmartWidgetImagesPath() {
    std::lock_guard lock(pathMutex());
    return determinedPath();
}

void SmartWidgetData::setDeterminedSmartWidgetImagesPath(std::optional<std::string> path) {
    std::lock_guard lock(pathMutex());
    determinedPath() = std::move(path);
}

}  // namespace hw
