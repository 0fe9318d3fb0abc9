#pragma once
#include <QApplication>
#include <exception>
#include <functional>

namespace hw {

// The one application object of the user-facing process.
class HavenwayApplication : public QApplication {
    Q_OBJECT
public:
    using ExceptionHandler = std::function<void(const std::exception&)>;

    // Settings that only count before the application exists, for the web
    // page: the enterprise edition and the tests call it first. It makes every
    // start load GL, so the standard edition does without.
    static void prepare();

    HavenwayApplication(int& argc, char** argv);

    // Receives a std::exception that escaped an event handler; without one it is logged.
    void setExceptionHandler(ExceptionHandler handler) { exceptionHandler_ = std::move(handler); }

    bool notify(QObject* receiver, QEvent* event) override;

private:
    ExceptionHandler exceptionHandler_;
};

}  // namespace hw
