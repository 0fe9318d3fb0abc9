#pragma once
#include <memory>
#include <mutex>
#include <string>

#include "platform/file_download.h"
#include "platform/http.h"
#include "platform/main_queue.h"

namespace hw {

// HTTP and the file download on QtNetwork live in a module of their own
// (havenway-network.so), opened at their first use rather than with the
// program: QtNetwork, with Kerberos and the proxy library under it, would hold
// up every start's first window. Found beside the executable, one folder up
// (the other edition's build folder) or in ../lib/havenway; HAVENWAY_NETWORK_MODULE
// names another. Nothing, with the reason, when it cannot be opened.
struct NetworkModule {
    HttpClient* (*makeHttpClient)(MainQueue& queue) = nullptr;
    FileDownload* (*makeFileDownload)(MainQueue& queue) = nullptr;
};
const NetworkModule* networkModule(std::string* why);
using NetworkModuleLoader = const NetworkModule* (*)(std::string* why);

// The HTTP client of the module, made on the main thread at the first
// request. Without the module every request completes with an HttpOther error.
class LateHttpClient final : public HttpClient {
public:
    explicit LateHttpClient(MainQueue& queue, NetworkModuleLoader load = networkModule);
    ~LateHttpClient() override;
    void send(HttpRequest request, std::function<void(HttpResponse)> completion) override;
    // Before the first request there is nothing to drop.
    void dropConnections() override;

private:
    HttpClient* client(std::string* why);

    MainQueue& queue_;
    NetworkModuleLoader load_;
    std::shared_ptr<bool> alive_;
    std::mutex mutex_;
    bool tried_ = false;
    std::string failure_;
    std::unique_ptr<HttpClient> client_;
};

// The module's file download, made at the first transfer; without the module
// every transfer fails with the reason.
class LateFileDownload final : public FileDownload {
public:
    explicit LateFileDownload(MainQueue& queue, NetworkModuleLoader load = networkModule) : queue_(queue), load_(load) {}
    std::unique_ptr<FileDownloadTask> start(const FileDownloadRequest& request, FileDownloadEvents events) override;

private:
    MainQueue& queue_;
    NetworkModuleLoader load_;
    bool tried_ = false;
    std::string failure_;
    std::unique_ptr<FileDownload> download_;
};

}  // namespace hw
