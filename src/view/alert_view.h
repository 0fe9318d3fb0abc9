#pragma once
#include <functional>
#include <string>
#include <vector>

namespace hw {

// The answers of an alert's buttons, counted from the first as the callers expect.
inline constexpr int kAlertFirstButtonReturn = 1000;
inline constexpr int kAlertSecondButtonReturn = 1001;
inline constexpr int kAlertThirdButtonReturn = 1002;

enum class AlertStyle { Informational, Warning, Critical };

// A sheet blocks only its own window; an application-modal alert blocks every window.
enum class AlertModality { Sheet, Application };

struct AlertRequest {
    std::string title;    // the bold message text
    std::string message;  // the informative text below it
    std::vector<std::string> buttons;  // the first is the default; none gives one "OK"
    AlertStyle style = AlertStyle::Informational;
    AlertModality modality = AlertModality::Application;
};

// Shows alerts. The completion runs once, on the main thread, with the
// button's answer (1000 for the first) after the alert has gone; presenting
// never blocks, so nothing runs inside a nested event loop.
class AlertView {
public:
    virtual ~AlertView() = default;
    virtual void presentAlert(const AlertRequest& request, std::function<void(int response)> completion) = 0;
};

}  // namespace hw
