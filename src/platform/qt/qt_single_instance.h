#pragma once
#include <QObject>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/helper_message.h"

namespace hw {

// The running copy's end: holds the per-user lock and answers later starts on
// a local socket beside it. Requests reach the handler on the main thread.
class QtSingleInstance final : public QObject {
    Q_OBJECT
public:
    static constexpr int kAnswerTimeoutMs = 2000;

    enum class Outcome { Primary, Forwarded, Failed };
    struct Start {
        Outcome outcome = Outcome::Failed;
        std::string why;  // for Failed
        std::unique_ptr<QtSingleInstance> primary;
    };

    // Takes the lock, or, when another copy holds it, sends it the request
    // for this start (the URL, else "reopen") and waits for its answer, at
    // most kAnswerTimeoutMs. Needs no application object.
    static Start start(const std::optional<std::string>& url);
    // Answers later starts; needs the application object (later starts wait
    // for this while they retry).
    bool listen(std::string* error);

    // The URL is nothing for a reopen.
    void setHandler(std::function<void(const std::optional<std::string>& url)> handler) {
        handler_ = std::move(handler);
    }
    const std::string& folder() const { return folder_; }
    ~QtSingleInstance() override;

private:
    class Peer;
    QtSingleInstance(std::string folder, UniqueFd lock);
    void onConnection();

    std::string folder_;
    UniqueFd lock_;
    // A plain socket rather than QtNetwork's: the first window does not wait
    // for that library to load.
    UniqueFd server_;
    std::function<void(const std::optional<std::string>&)> handler_;
};

}  // namespace hw
