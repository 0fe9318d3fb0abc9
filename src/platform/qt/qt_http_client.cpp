#include "platform/qt/qt_http_client.h"

#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkDiskCache>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTimer>
#include <QUrl>
#include <climits>
#include <cstdlib>
#include <vector>

#include "platform/log.h"
#include "platform/qt/qt_test_ca.h"

namespace hw {

namespace {

constexpr std::string_view kLog = "HTTP";

// Scheme, host and path only: queries may carry tokens.
std::string redacted(const QUrl& url) {
    return url.adjusted(QUrl::RemoveQuery | QUrl::RemoveFragment | QUrl::RemoveUserInfo).toString().toStdString();
}

int mapError(QNetworkReply::NetworkError e) {
    switch (e) {
        case QNetworkReply::TimeoutError: return HttpTimedOut;
        case QNetworkReply::ConnectionRefusedError:
        case QNetworkReply::RemoteHostClosedError:
        case QNetworkReply::HostNotFoundError:
        case QNetworkReply::TemporaryNetworkFailureError:
        case QNetworkReply::NetworkSessionFailedError:
        case QNetworkReply::ProxyConnectionRefusedError:
        case QNetworkReply::ProxyNotFoundError:
        case QNetworkReply::UnknownNetworkError: return HttpCannotConnect;
        case QNetworkReply::SslHandshakeFailedError: return HttpTlsFailed;
        case QNetworkReply::ProtocolUnknownError:
        case QNetworkReply::ProtocolInvalidOperationError: return HttpBadUrl;
        case QNetworkReply::OperationCanceledError: return HttpCancelled;
        default: return HttpOther;
    }
}

HttpResponse transportError(int code, std::string message) {
    HttpResponse r;
    r.error = HttpTransportError{code, std::move(message)};
    return r;
}

}  // namespace

// A reply given up before its end is never aborted: abort() reports a
// cancellation, and a failure Qt's HTTP thread has already sent on then
// reports a second error. It is let go instead, unheard, and deleted, which
// takes those reports with it and stops its request.
struct QtHttpClient::InFlight {
    HttpRequest request;  // kept to be sent again on a fresh connection
    bool resend = false;
    std::function<void(HttpResponse)> completion;
    QNetworkReply* reply = nullptr;
    QTimer* timer = nullptr;
    std::vector<QMetaObject::Connection> heard;
    bool timedOut = false;
    bool tooLarge = false;
    std::int64_t limit = 0;
    void letGo() {
        timer->stop();
        for (const auto& connection : heard) QObject::disconnect(connection);
        heard.clear();
    }
};

QtHttpClient::QtHttpClient(MainQueue& queue) : QtHttpClient(queue, Options{}) {}

QtHttpClient::QtHttpClient(MainQueue& queue, Options options)
    : queue_(queue),
      options_(std::move(options)),
      alive_(std::make_shared<bool>(true)),
      context_(new QObject),
      manager_(makeManager()) {
    if (auto tls = testCaConfiguration(kLog)) tls_ = std::make_unique<QSslConfiguration>(*tls);
}

QNetworkAccessManager* QtHttpClient::makeManager() {
    auto* manager = new QNetworkAccessManager(context_);
    if (!options_.cacheDirectory.isEmpty()) {
        auto* cache = new QNetworkDiskCache(manager);
        cache->setCacheDirectory(options_.cacheDirectory);
        manager->setCache(cache);
    }
    return manager;
}

void QtHttpClient::dropConnections() {
    std::weak_ptr<bool> alive = alive_;
    queue_.runOnMain([this, alive] {
        if (alive.expired()) return;
        // A new manager has no kept connections; the old one goes once its
        // replies, aborted here, are gone.
        auto* old = manager_;
        manager_ = makeManager();
        std::vector<std::uint64_t> ids;
        for (auto& [id, f] : inFlight_) {
            if (f->request.freshConnection && f->request.keptThroughDrops) continue;
            f->resend = true;
            ids.push_back(id);
        }
        log::info(kLog, "connections dropped; " + std::to_string(ids.size()) + " request(s) in flight");
        for (auto id : ids) finish(id);
        old->deleteLater();
    });
}

QtHttpClient::~QtHttpClient() {
    alive_.reset();
    auto pending = std::move(inFlight_);
    inFlight_.clear();
    for (auto& [id, f] : pending) {
        f->letGo();
        deliver(std::move(f->completion), transportError(HttpCancelled, "the HTTP client was shut down"));
    }
    // Its managers go with it, and their replies.
    delete context_;
}

void QtHttpClient::deliver(std::function<void(HttpResponse)> completion, HttpResponse response) {
    queue_.post([completion = std::move(completion), response = std::move(response)]() mutable {
        completion(std::move(response));
    });
}

void QtHttpClient::send(HttpRequest request, std::function<void(HttpResponse)> completion) {
    std::weak_ptr<bool> alive = alive_;
    queue_.runOnMain([this, alive, request = std::move(request), completion = std::move(completion)]() mutable {
        if (alive.expired()) {
            completion(transportError(HttpCancelled, "the HTTP client was shut down"));
            return;
        }
        start(nextId_++, std::move(request), std::move(completion));
    });
}

void QtHttpClient::start(std::uint64_t id, HttpRequest request, std::function<void(HttpResponse)> completion) {
    const QUrl url(QString::fromStdString(request.url), QUrl::StrictMode);
    const auto scheme = url.scheme();
    if (!url.isValid() || url.host().isEmpty() || (scheme != "https" && scheme != "http")) {
        log::warning(kLog, "refused a request to an invalid address");
        deliver(std::move(completion), transportError(HttpBadUrl, "invalid URL"));
        return;
    }
    QNetworkRequest req(url);
    for (const auto& [name, value] : request.headers) {
        req.setRawHeader(QByteArray::fromStdString(name), QByteArray::fromStdString(value));
    }
    req.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                     request.ignoreCache ? QNetworkRequest::AlwaysNetwork : QNetworkRequest::PreferCache);
    req.setAttribute(QNetworkRequest::CacheSaveControlAttribute, !request.ignoreCache);
    if (tls_) req.setSslConfiguration(*tls_);
    req.setTransferTimeout(0);  // our own timer covers the whole exchange

    const auto method = QByteArray::fromStdString(request.method.empty() ? std::string("GET") : request.method);
    // HEAD must go through head(): as a custom verb Qt would wait for a body that never comes.
    auto* manager = manager_;
    if (request.freshConnection) manager = new QNetworkAccessManager(context_);
    auto* reply = method == "HEAD" ? manager->head(req)
                                   : manager->sendCustomRequest(req, method, QByteArray::fromStdString(request.body));
    if (manager != manager_) QObject::connect(reply, &QObject::destroyed, manager, &QObject::deleteLater);
    auto flight = std::make_unique<InFlight>();
    flight->request = request;
    flight->completion = std::move(completion);
    flight->reply = reply;
    auto* f = flight.get();
    inFlight_.emplace(id, std::move(flight));

    const auto timeout = delayToMillis(request.timeoutMs);
    f->timer = new QTimer(reply);
    f->timer->setSingleShot(true);
    f->heard.push_back(QObject::connect(f->timer, &QTimer::timeout, context_, [this, f, id] {
        f->timedOut = true;
        finish(id);
    }));
    f->timer->start(timeout > INT_MAX ? INT_MAX : static_cast<int>(timeout));

    const auto limit = request.maxResponseBytes > 0 ? std::min(request.maxResponseBytes, options_.maxResponseBytes)
                                                    : options_.maxResponseBytes;
    f->limit = limit;
    // Stopped as soon as the length or the bytes come past the bound: what was refused is never all held.
    // The length announced is known with the headers, before any of the body.
    f->heard.push_back(QObject::connect(reply, &QNetworkReply::metaDataChanged, context_, [this, f, id, limit] {
        const QVariant length = f->reply->header(QNetworkRequest::ContentLengthHeader);
        if (!length.isValid() || length.toLongLong() <= limit) return;
        f->tooLarge = true;
        finish(id);
    }));
    f->heard.push_back(QObject::connect(reply, &QNetworkReply::downloadProgress, context_,
                                        [this, f, id, limit](qint64 received, qint64 total) {
                                            if (received <= limit && total <= limit) return;
                                            f->tooLarge = true;
                                            finish(id);
                                        }));
    f->heard.push_back(QObject::connect(reply, &QNetworkReply::finished, context_, [this, id] { finish(id); }));
    log::debug(kLog, request.method + " " + redacted(url));
}

void QtHttpClient::finish(std::uint64_t id) {
    auto it = inFlight_.find(id);
    if (it == inFlight_.end()) return;
    auto flight = std::move(it->second);
    inFlight_.erase(it);
    auto* reply = flight->reply;
    // Heard until now only: finish may run inside one of the reply's own signals.
    flight->letGo();
    if (flight->tooLarge) reply->abort();  // nothing more is read into it
    reply->deleteLater();
    if (flight->resend && !flight->timedOut && !flight->tooLarge && !flight->request.sendOnce) {
        start(nextId_++, std::move(flight->request), std::move(flight->completion));
        return;
    }

    const auto where = redacted(reply->url());
    const auto status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const auto error = reply->error();
    HttpResponse response;
    if (flight->timedOut) {
        response = transportError(HttpTimedOut, "the request timed out");
    } else if (flight->resend) {
        response = transportError(HttpCancelled, "the connection was dropped; the request is not sent again");
    } else if (flight->tooLarge) {
        response = transportError(HttpTooLarge, "the answer is larger than " + std::to_string(flight->limit) +
                                                    " bytes");
        log::warning(kLog, flight->request.method + " " + where + ": the answer is larger than " +
                               std::to_string(flight->limit) + " bytes; refused before it was read");
    } else if (status.isValid() && error != QNetworkReply::OperationCanceledError) {
        // An HTTP status, even 4xx/5xx, is an answer, not a transport error.
        response.status = status.toInt();
        for (const auto& [name, value] : reply->rawHeaderPairs()) {
            response.headers.emplace_back(name.toStdString(), value.toStdString());
        }
        response.body = reply->readAll().toStdString();
    } else {
        // Qt's text may quote the whole address, query and all.
        auto message = reply->errorString();
        message.replace(reply->url().toString(), QString::fromStdString(where));
        response = transportError(mapError(error), message.toStdString());
    }
    if (response.error) {
        log::warning(kLog, where + " failed: " + response.error->message);
    } else {
        log::debug(kLog, where + " answered " + std::to_string(response.status));
    }
    deliver(std::move(flight->completion), std::move(response));
}

}  // namespace hw
