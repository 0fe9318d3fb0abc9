#pragma once
#include <QObject>

#include "platform/main_queue.h"

namespace hw {

// The main queue on the Qt event loop of the thread that created it.
class QtMainQueue final : public MainQueue {
public:
    QtMainQueue();
    ~QtMainQueue() override;
    void post(Task task) override;
    void postAfter(double ms, Task task) override;
    std::unique_ptr<Timer> startTimer(double intervalMs, bool repeats, Task task) override;
    bool isMainThread() const override;

private:
    void arm(std::int64_t remainingMs, Task task);
    QObject* context_;
};

}  // namespace hw
