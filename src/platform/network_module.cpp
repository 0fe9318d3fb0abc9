#include "platform/network_module.h"

#include <cstdlib>
#include <filesystem>

#include "platform/log.h"
#include "platform/paths.h"
#include "platform/shared_library.h"

namespace hw {
namespace {

constexpr char kLog[] = "NetworkModule";
constexpr char kFile[] = "havenway-network.so";

std::string modulePath() {
    if (const char* forced = std::getenv("HAVENWAY_NETWORK_MODULE"); forced && *forced) return forced;
    const std::string self = paths::executable();
    if (self.empty()) return kFile;
    const std::filesystem::path folder = std::filesystem::path(self).parent_path();
    std::error_code ec;
    for (const auto& candidate : {folder / kFile, folder.parent_path() / kFile, folder.parent_path() / "lib/havenway" / kFile}) {
        if (std::filesystem::exists(candidate, ec)) return candidate.string();
    }
    return (folder / kFile).string();
}

HttpResponse failedResponse(int code, const std::string& message) {
    HttpResponse response;
    response.error = HttpTransportError{code, message};
    return response;
}

}  // namespace

const NetworkModule* networkModule(std::string* why) {
    static std::string failure;
    static const NetworkModule* loaded = []() -> const NetworkModule* {
        const std::string path = modulePath();
        SharedLibrary library(path.c_str());
        static NetworkModule m;
        library.bind(m.makeHttpClient, "havenway_network_make_http_client");
        library.bind(m.makeFileDownload, "havenway_network_make_file_download");
        if (library.ok()) return &m;
        failure = library.failure();
        log::error(kLog, "no HTTP: " + failure);
        return nullptr;
    }();
    if (!loaded && why) *why = failure;
    return loaded;
}

LateHttpClient::LateHttpClient(MainQueue& queue, NetworkModuleLoader load)
    : queue_(queue), load_(load), alive_(std::make_shared<bool>(true)) {}

LateHttpClient::~LateHttpClient() = default;

HttpClient* LateHttpClient::client(std::string* why) {
    std::lock_guard lock(mutex_);
    if (!tried_) {
        tried_ = true;
        if (const NetworkModule* module = load_(&failure_)) client_.reset(module->makeHttpClient(queue_));
    }
    if (!client_) *why = failure_;
    return client_.get();
}

void LateHttpClient::dropConnections() {
    std::lock_guard lock(mutex_);
    if (client_) client_->dropConnections();
}

void LateHttpClient::send(HttpRequest request, std::function<void(HttpResponse)> completion) {
    bool made = false;
    {
        std::lock_guard lock(mutex_);
        made = client_ != nullptr;
    }
    // The client's Qt objects belong to the main thread: a first request from
    // elsewhere makes it there.
    if (!made && !queue_.isMainThread()) {
        std::weak_ptr<bool> alive = alive_;
        queue_.post([this, alive, request = std::move(request), completion = std::move(completion)]() mutable {
            if (alive.expired()) return completion(failedResponse(HttpCancelled, "cancelled"));
            send(std::move(request), std::move(completion));
        });
        return;
    }
    std::string why;
    HttpClient* real = client(&why);
    if (!real) {
        queue_.post([completion = std::move(completion), why] { completion(failedResponse(HttpOther, "no HTTP: " + why)); });
        return;
    }
    real->send(std::move(request), std::move(completion));
}

std::unique_ptr<FileDownloadTask> LateFileDownload::start(const FileDownloadRequest& request, FileDownloadEvents events) {
    if (!tried_) {
        tried_ = true;
        if (const NetworkModule* module = load_(&failure_)) download_.reset(module->makeFileDownload(queue_));
    }
    if (download_) return download_->start(request, std::move(events));
    // Nothing follows a cancel, not even this failure.
    struct Refused final : FileDownloadTask {
        std::shared_ptr<bool> cancelled = std::make_shared<bool>(false);
        void cancel() override { *cancelled = true; }
    };
    auto task = std::make_unique<Refused>();
    queue_.post([cancelled = task->cancelled, failed = std::move(events.failed), why = failure_] {
        if (!*cancelled && failed) failed("no file download: " + why);
    });
    return task;
}

}  // namespace hw
