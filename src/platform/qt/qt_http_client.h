#pragma once
#include <QString>
#include <cstdint>
#include <memory>
#include <unordered_map>

#include "platform/http.h"
#include "platform/main_queue.h"

class QNetworkAccessManager;
class QNetworkReply;
class QObject;
class QSslConfiguration;

namespace hw {

// HTTP on QtNetwork. Requests run on the main queue's thread; send() may be called from
// any thread. Completions are posted to the main queue, exactly once each, also for
// requests still running when the client is destroyed (as cancelled).
// HAVENWAY_TEST_CA, when set at construction, names a PEM file of extra trusted CAs.
class QtHttpClient final : public HttpClient {
public:
    struct Options {
        QString cacheDirectory;                        // empty: no disk cache
        std::int64_t maxResponseBytes = 256ll << 20;  // larger answers fail
    };
    explicit QtHttpClient(MainQueue& queue);
    QtHttpClient(MainQueue& queue, Options options);
    ~QtHttpClient() override;

    void send(HttpRequest request, std::function<void(HttpResponse)> completion) override;
    void dropConnections() override;

private:
    struct InFlight;
    void start(std::uint64_t id, HttpRequest request, std::function<void(HttpResponse)> completion);
    QNetworkAccessManager* makeManager();
    void finish(std::uint64_t id);
    void deliver(std::function<void(HttpResponse)> completion, HttpResponse response);

    MainQueue& queue_;
    Options options_;
    std::shared_ptr<bool> alive_;
    QObject* context_;
    QNetworkAccessManager* manager_;
    std::unordered_map<std::uint64_t, std::unique_ptr<InFlight>> inFlight_;
    std::uint64_t nextId_ = 1;
    std::unique_ptr<QSslConfiguration> tls_;
};

}  // namespace hw
