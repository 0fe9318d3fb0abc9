#pragma once
#include <QObject>
#include <functional>

class QSocketNotifier;

namespace hw {

// SIGTERM, SIGINT and SIGHUP delivered on the main thread through a
// self-pipe. One per process.
class QtSignalWatch final : public QObject {
    Q_OBJECT
public:
    explicit QtSignalWatch(std::function<void(int signal)> handler, QObject* parent = nullptr);
    ~QtSignalWatch() override;
    bool installed() const { return notifier_ != nullptr; }

private:
    std::function<void(int)> handler_;
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace hw
