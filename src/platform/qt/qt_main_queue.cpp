#include "platform/qt/qt_main_queue.h"

#include <QMetaObject>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <climits>

namespace hw {

QtMainQueue::QtMainQueue() : context_(new QObject) {}
QtMainQueue::~QtMainQueue() { delete context_; }

bool QtMainQueue::isMainThread() const { return QThread::currentThread() == context_->thread(); }

void QtMainQueue::post(Task task) {
    QMetaObject::invokeMethod(context_, std::move(task), Qt::QueuedConnection);
}

// Qt timers take an int; longer delays are re-armed in steps so that they
// saturate rather than fire early.
void QtMainQueue::arm(std::int64_t remainingMs, Task task) {
    const auto step = remainingMs > INT_MAX ? INT_MAX : static_cast<int>(remainingMs);
    QTimer::singleShot(step, Qt::PreciseTimer, context_, [this, rest = remainingMs - step, task = std::move(task)]() mutable {
        if (rest > 0) arm(rest, std::move(task)); else task();
    });
}

void QtMainQueue::postAfter(double ms, Task task) {
    const auto delay = delayToMillis(ms);
    if (delay == 0) {
        post(std::move(task));
        return;
    }
    // Timers must be started on the thread that owns the context.
    post([this, delay, task = std::move(task)]() mutable { arm(delay, std::move(task)); });
}

namespace {
class QtTimerHandle final : public Timer {
public:
    explicit QtTimerHandle(QTimer* timer) : timer_(timer) {}
    ~QtTimerHandle() override { cancel(); }
    void cancel() override {
        if (timer_) {
            QMetaObject::invokeMethod(timer_, [t = timer_.data()] { t->stop(); t->deleteLater(); }, Qt::QueuedConnection);
            timer_.clear();
        }
    }

private:
    QPointer<QTimer> timer_;
};
}  // namespace

std::unique_ptr<Timer> QtMainQueue::startTimer(double intervalMs, bool repeats, Task task) {
    auto interval = delayToMillis(intervalMs);
    if (interval > INT_MAX) interval = INT_MAX;
    auto* timer = new QTimer;
    timer->moveToThread(context_->thread());
    timer->setParent(context_);
    timer->setSingleShot(!repeats);
    timer->setTimerType(Qt::PreciseTimer);
    timer->setInterval(static_cast<int>(interval));
    QObject::connect(timer, &QTimer::timeout, context_, std::move(task));
    QMetaObject::invokeMethod(timer, qOverload<>(&QTimer::start), Qt::QueuedConnection);
    return std::make_unique<QtTimerHandle>(timer);
}

}  // namespace hw
