#include "platform/qt/qt_single_instance.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

#include "platform/log.h"
#include "platform/single_instance.h"

namespace hw {
namespace {

constexpr char kLog[] = "SingleInstance";
constexpr char kSocket[] = "/instance.sock";

}  // namespace

QtSingleInstance::Start QtSingleInstance::start(const std::optional<std::string>& url) {
    Start result;
    const auto folder = single_instance::runtimeDir(&result.why);
    if (!folder) return result;
    std::string error;
    if (auto lock = single_instance::tryLock(*folder, &error)) {
        result.outcome = Outcome::Primary;
        result.primary.reset(new QtSingleInstance(*folder, std::move(*lock)));
        return result;
    }
    if (!error.empty()) {
        result.why = error;
        return result;
    }
    const auto line = single_instance::requestLine(url);
    if (!line) {
        result.why = "the URL does not fit one request line";
        return result;
    }
    if (single_instance::forward(*folder + kSocket, *line, kAnswerTimeoutMs, &result.why)) result.outcome = Outcome::Forwarded;
    return result;
}

QtSingleInstance::QtSingleInstance(std::string folder, UniqueFd lock)
    : folder_(std::move(folder)), lock_(std::move(lock)) {}

QtSingleInstance::~QtSingleInstance() {
    if (server_) server_->close();
}

bool QtSingleInstance::listen(std::string* error) {
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    const QString path = QString::fromStdString(folder_ + kSocket);
    // We hold the lock: a socket file left there is from a copy that died.
    QLocalServer::removeServer(path);
    if (!server_->listen(path)) {
        *error = "cannot listen on " + path.toStdString() + ": " + server_->errorString().toStdString();
        return false;
    }
    connect(server_, &QLocalServer::newConnection, this, &QtSingleInstance::onConnection);
    return true;
}

void QtSingleInstance::onConnection() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        // A peer that says nothing is dropped.
        QTimer::singleShot(kAnswerTimeoutMs, socket, [socket] { socket->abort(); });
        auto read = [this, socket] {
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > static_cast<qint64>(single_instance::kMaxLine)) socket->abort();
                return;
            }
            const QByteArray raw = socket->readLine(single_instance::kMaxLine + 1);
            std::string line = raw.toStdString();
            if (!line.empty() && line.back() == '\n') line.pop_back();
            std::optional<std::string> url;
            if (!single_instance::parseRequestLine(line, url)) {
                log::warning(kLog, "unreadable request from a later start; dropped");
                socket->abort();
                return;
            }
            socket->write("ok\n");
            socket->flush();
            socket->disconnectFromServer();
            log::info(kLog, url ? "a later start handed over a URL" : "a later start asked for reopen");
            if (handler_) handler_(url);
        };
        connect(socket, &QLocalSocket::readyRead, this, read);
        // What came before the socket was handed over raises no signal.
        if (socket->bytesAvailable() > 0) QTimer::singleShot(0, socket, read);
    }
}

}  // namespace hw
