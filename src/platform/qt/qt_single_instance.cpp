#include "platform/qt/qt_single_instance.h"

#include <QSocketNotifier>
#include <QTimer>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/log.h"
#include "platform/single_instance.h"

namespace hw {
namespace {

constexpr char kLog[] = "SingleInstance";
constexpr char kSocket[] = "/instance.sock";

}  // namespace

// One later start's connection: its request line, then our "ok".
class QtSingleInstance::Peer final : public QObject {
public:
    Peer(QtSingleInstance& owner, UniqueFd fd) : QObject(&owner), owner_(owner), fd_(std::move(fd)) {
        notifier_ = new QSocketNotifier(fd_.get(), QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, [this] { read(); });
        // A peer that says nothing is dropped.
        QTimer::singleShot(kAnswerTimeoutMs, this, [this] { drop(); });
    }

private:
    void read() {
        char buffer[1024];
        const ssize_t n = ::recv(fd_.get(), buffer, sizeof buffer, MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
        if (n <= 0) return drop();
        line_.append(buffer, static_cast<std::size_t>(n));
        const auto end = line_.find('\n');
        if (end == std::string::npos) {
            if (line_.size() > single_instance::kMaxLine) drop();
            return;
        }
        std::optional<std::string> url;
        if (end > single_instance::kMaxLine || !single_instance::parseRequestLine(line_.substr(0, end), url)) {
            log::warning(kLog, "unreadable request from a later start; dropped");
            return drop();
        }
        (void)::send(fd_.get(), "ok\n", 3, MSG_NOSIGNAL | MSG_DONTWAIT);
        QtSingleInstance& owner = owner_;
        drop();
        log::info(kLog, url ? "a later start handed over a URL" : "a later start asked for reopen");
        if (owner.handler_) owner.handler_(url);
    }
    void drop() {
        notifier_->setEnabled(false);
        fd_ = UniqueFd();
        deleteLater();
    }

    QtSingleInstance& owner_;
    UniqueFd fd_;
    QSocketNotifier* notifier_ = nullptr;
    std::string line_;
};

QtSingleInstance::Start QtSingleInstance::start(const std::optional<std::string>& url) {
    Start result;
    const auto folder = single_instance::runtimeDir(&result.why);
    if (!folder) return result;
    const auto line = single_instance::requestLine(url);
    // A copy that is ending holds the lock a while after it stops answering
    // (an update's restart starts the next copy then): once it has gone
    // silent, the lock is tried again before this start gives up.
    for (bool lastTry = false;; lastTry = true) {
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
        if (!line) {
            result.why = "the URL does not fit one request line";
            return result;
        }
        if (lastTry) return result;
        if (single_instance::forward(*folder + kSocket, *line, kAnswerTimeoutMs, &result.why)) {
            result.outcome = Outcome::Forwarded;
            return result;
        }
    }
}

QtSingleInstance::QtSingleInstance(std::string folder, UniqueFd lock)
    : folder_(std::move(folder)), lock_(std::move(lock)) {}

QtSingleInstance::~QtSingleInstance() = default;

bool QtSingleInstance::listen(std::string* error) {
    const std::string path = folder_ + kSocket;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        *error = "cannot listen on " + path + ": the path is too long";
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    // We hold the lock: a socket file left there is from a copy that died.
    ::unlink(path.c_str());
    // Only this user may hand over a request; the folder is private as well.
    const mode_t mask = ::umask(0077);
    const bool bound = fd && ::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::umask(mask);
    if (!bound || ::listen(fd.get(), 16) != 0) {
        *error = "cannot listen on " + path + ": " + std::strerror(errno);
        return false;
    }
    server_ = std::move(fd);
    auto* notifier = new QSocketNotifier(server_.get(), QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &QtSingleInstance::onConnection);
    return true;
}

void QtSingleInstance::onConnection() {
    for (;;) {
        UniqueFd peer(::accept4(server_.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
        if (!peer) return;
        new Peer(*this, std::move(peer));
    }
}

}  // namespace hw
