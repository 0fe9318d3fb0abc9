#include "core/smart_widget_data.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <nlohmann/json.hpp>

#include "platform/log.h"

namespace hw {
namespace {

constexpr char logCategory[] = "SmartWidget";
// An icon is a few kilobytes; anything this large in the cache is not ours.
constexpr std::uintmax_t maxCachedIconBytes = 16 * 1024 * 1024;

std::mutex& pathMutex() {
    static std::mutex mutex;
    return mutex;
}
std::optional<std::string>& determinedPath() {
    static std::optional<std::string> path;
    return path;
}

// $HAVENWAY_DATA_DIR, else $XDG_DATA_HOME/havenway, else ~/.local/share/havenway.
std::string dataFolder() {
    if (const char* dir = std::getenv("HAVENWAY_DATA_DIR"); dir && dir[0] == '/') return dir;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && xdg[0] == '/') return std::string(xdg) + "/havenway";
    if (const char* home = std::getenv("HOME"); home && home[0] == '/') return std::string(home) + "/.local/share/havenway";
    return {};
}

bool writeFileAtomically(const std::string& path, const Bytes& bytes) {
    std::string temp = path + ".XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd < 0) return false;
    bool ok = fchmod(fd, 0600) == 0;
    std::size_t written = 0;
    while (ok && written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) ok = false; else written += static_cast<std::size_t>(n);
    }
    ok = ok && fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok && std::rename(temp.c_str(), path.c_str()) == 0) return true;
    ::unlink(temp.c_str());
    return false;
}

std::optional<Bytes> readSmallFile(const std::string& path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return std::nullopt;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec || size > maxCachedIconBytes) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    Bytes data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return std::nullopt;
    return data;
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
    return writeFileAtomically(folder + "/" + fileName, *png);
}

ImagePtr SmartWidgetData::loadCachedImageForSmartWidgetWithFileName(const std::string& fileName) const {
    if (!isSafeCacheFileName(fileName)) return nullptr;
    const std::string folder = smartWidgetImagesPath();
    if (folder.empty()) return nullptr;
    const auto data = readSmallFile(folder + "/" + fileName);
    if (!data) return nullptr;
    return context_->codec.decode(*data);
}

bool SmartWidgetData::isSafeCacheFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

std::string SmartWidgetData::smartWidgetImagesPath() {
    std::lock_guard lock(pathMutex());
    auto& determined = determinedPath();
    if (determined) return *determined;
    const std::string base = dataFolder();
    if (base.empty()) return {};
    const std::string folder = base + "/" + IMAGES_CACHE_DIRECTORY;
    std::error_code ec;
    if (!std::filesystem::exists(folder, ec)) {
        // The data folder and its children are private.
        std::filesystem::create_directories(folder, ec);
        ::chmod(base.c_str(), 0700);
        ::chmod(folder.c_str(), 0700);
    }
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
