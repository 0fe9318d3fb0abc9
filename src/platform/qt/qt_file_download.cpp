#include "platform/qt/qt_file_download.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QThread>
#include <QUrl>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <set>
#include <vector>

#include "platform/log.h"
#include "platform/qt/qt_test_ca.h"

namespace hw {

namespace {
constexpr std::string_view kLog = "FileDownload";
}  // namespace

struct QtFileDownload::Transfer {
    FileDownloadRequest request;
    FileDownloadEvents events;  // main thread
    std::atomic<bool> cancelled{false};
    // The engine's thread only.
    QNetworkReply* reply = nullptr;
    int fd = -1;
    std::string tempPath;
    bool responded = false;
};

struct QtFileDownload::Engine {
    explicit Engine(MainQueue& q) : queue(q), tls(testCaConfiguration(kLog)) {
        thread.setObjectName("file-download");
        context = new QObject;
        context->moveToThread(&thread);
        thread.start();
    }
    ~Engine() {
        QMetaObject::invokeMethod(
            context,
            [this] {
                for (const auto& t : std::set(active)) finish(t);
                delete manager;
                manager = nullptr;
            },
            Qt::BlockingQueuedConnection);
        thread.quit();
        thread.wait();
        delete context;
    }

    // Everything below runs on the engine's thread.
    void begin(const std::shared_ptr<Transfer>& t);
    void response(const std::shared_ptr<Transfer>& t);
    void readAvailable(const std::shared_ptr<Transfer>& t);
    void finished(const std::shared_ptr<Transfer>& t);
    void fail(const std::shared_ptr<Transfer>& t, std::string reason);
    // Lets the reply go and removes the temp file; no event follows.
    void finish(const std::shared_ptr<Transfer>& t);

    template <class F>
    void deliver(const std::shared_ptr<Transfer>& t, F f) {
        queue.post([t, f = std::move(f)] {
            if (!t->cancelled) f(*t);
        });
    }

    MainQueue& queue;
    std::optional<QSslConfiguration> tls;
    QThread thread;
    QObject* context = nullptr;
    QNetworkAccessManager* manager = nullptr;
    std::set<std::shared_ptr<Transfer>> active;
};

namespace {

class QtFileDownloadTask final : public FileDownloadTask {
public:
    QtFileDownloadTask(std::weak_ptr<QtFileDownload::Engine> engine, std::shared_ptr<QtFileDownload::Transfer> t)
        : engine_(std::move(engine)), transfer_(std::move(t)) {}
    ~QtFileDownloadTask() override { cancel(); }
    void cancel() override {
        if (transfer_->cancelled.exchange(true)) return;
        if (auto engine = engine_.lock()) {
            QMetaObject::invokeMethod(engine->context, [e = engine.get(), t = transfer_] { e->finish(t); },
                                      Qt::QueuedConnection);
        }
    }

private:
    std::weak_ptr<QtFileDownload::Engine> engine_;
    std::shared_ptr<QtFileDownload::Transfer> transfer_;
};

bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

void QtFileDownload::Engine::begin(const std::shared_ptr<Transfer>& t) {
    if (t->cancelled) return;
    const QUrl url(QString::fromStdString(t->request.url), QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty() || (url.scheme() != "https" && url.scheme() != "http")) {
        return fail(t, "invalid address");
    }
    // Beside the destination, so that the final rename stays on one file system.
    std::string pattern = t->request.destination + ".partial.XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) return fail(t, std::string("cannot create the download file: ") + std::strerror(errno));
    ::fchmod(fd, 0600);
    t->fd = fd;
    t->tempPath = name.data();
    active.insert(t);

    if (!manager) manager = new QNetworkAccessManager(context);
    QNetworkRequest req(url);
    req.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    req.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    // Asked for explicitly, Qt leaves the body as it comes: the archive is kept as sent.
    req.setRawHeader("Accept-Encoding", "identity");
    const auto timeout = delayToMillis(t->request.timeoutSeconds * 1000.0);
    req.setTransferTimeout(timeout > INT_MAX ? INT_MAX : static_cast<int>(timeout));
    if (tls) req.setSslConfiguration(*tls);
    t->reply = manager->get(req);
    // Bounded memory: Qt stops reading the socket until we have written.
    t->reply->setReadBufferSize(1 << 20);
    QObject::connect(t->reply, &QNetworkReply::metaDataChanged, context, [this, t] { response(t); });
    QObject::connect(t->reply, &QNetworkReply::readyRead, context, [this, t] { readAvailable(t); });
    QObject::connect(t->reply, &QNetworkReply::finished, context, [this, t] { finished(t); });
}

void QtFileDownload::Engine::response(const std::shared_ptr<Transfer>& t) {
    if (t->responded || !t->reply) return;
    const auto status = t->reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid()) return;
    const int code = status.toInt();
    if (code >= 300 && code < 400 && t->reply->attribute(QNetworkRequest::RedirectionTargetAttribute).isValid()) {
        return;  // followed by Qt; the final answer comes next
    }
    t->responded = true;
    FileDownloadResponse r;
    r.status = code;
    const auto length = t->reply->header(QNetworkRequest::ContentLengthHeader);
    r.expectedLength = length.isValid() ? length.toLongLong() : -1;
    for (const auto& [name, value] : t->reply->rawHeaderPairs()) {
        r.headers[name.toLower().toStdString()] = value.toStdString();
    }
    deliver(t, [r](Transfer& tr) {
        if (tr.events.response) tr.events.response(r);
    });
}

void QtFileDownload::Engine::readAvailable(const std::shared_ptr<Transfer>& t) {
    if (!t->reply || t->fd < 0) return;
    response(t);
    const QByteArray data = t->reply->readAll();
    if (data.isEmpty()) return;
    if (!writeAll(t->fd, data.constData(), static_cast<std::size_t>(data.size()))) {
        return fail(t, std::string("cannot write the download file: ") + std::strerror(errno));
    }
    const std::int64_t length = data.size();
    deliver(t, [length](Transfer& tr) {
        if (tr.events.block) tr.events.block(length);
    });
}

void QtFileDownload::Engine::finished(const std::shared_ptr<Transfer>& t) {
    if (!t->reply) return;
    readAvailable(t);
    if (!t->reply) return;  // failed while writing
    const auto error = t->reply->error();
    const auto status = t->reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (error != QNetworkReply::NoError) {
        if (error == QNetworkReply::OperationCanceledError) return fail(t, "timed out");
        // Qt's text may quote the whole address, query and all.
        auto message = t->reply->errorString();
        message.replace(t->reply->url().toString(),
                        t->reply->url().adjusted(QUrl::RemoveQuery | QUrl::RemoveFragment | QUrl::RemoveUserInfo).toString());
        return fail(t, message.toStdString());
    }
    if (!status.isValid() || status.toInt() < 200 || status.toInt() > 299) {
        return fail(t, "status " + std::to_string(status.toInt()));
    }
    response(t);
    const bool synced = ::fsync(t->fd) == 0;
    const bool closed = ::close(t->fd) == 0;
    t->fd = -1;
    if (!synced || !closed || ::rename(t->tempPath.c_str(), t->request.destination.c_str()) != 0) {
        return fail(t, std::string("cannot keep the download: ") + std::strerror(errno));
    }
    t->tempPath.clear();
    finish(t);
    deliver(t, [](Transfer& tr) {
        if (tr.events.finished) tr.events.finished();
    });
}

void QtFileDownload::Engine::fail(const std::shared_ptr<Transfer>& t, std::string reason) {
    log::warning(kLog, "download failed: " + reason);
    finish(t);
    deliver(t, [reason = std::move(reason)](Transfer& tr) {
        if (tr.events.failed) tr.events.failed(reason);
    });
}

void QtFileDownload::Engine::finish(const std::shared_ptr<Transfer>& t) {
    if (auto* reply = t->reply) {
        t->reply = nullptr;
        // Not aborted: a failure already on its way would then be reported a
        // second time. Deleted, the reply stops its request.
        QObject::disconnect(reply, nullptr, context, nullptr);
        reply->deleteLater();
    }
    if (t->fd >= 0) {
        ::close(t->fd);
        t->fd = -1;
    }
    if (!t->tempPath.empty()) {
        ::unlink(t->tempPath.c_str());
        t->tempPath.clear();
    }
    active.erase(t);
}

QtFileDownload::QtFileDownload(MainQueue& queue) : queue_(queue), engine_(std::make_shared<Engine>(queue)) {}

QtFileDownload::~QtFileDownload() = default;

std::unique_ptr<FileDownloadTask> QtFileDownload::start(const FileDownloadRequest& request, FileDownloadEvents events) {
    auto t = std::make_shared<Transfer>();
    t->request = request;
    t->events = std::move(events);
    QMetaObject::invokeMethod(engine_->context, [e = engine_.get(), t] { e->begin(t); }, Qt::QueuedConnection);
    return std::make_unique<QtFileDownloadTask>(engine_, t);
}

}  // namespace hw
