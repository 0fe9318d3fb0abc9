#pragma once
#include <QPointer>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "json/json.h"

class QWebEngineView;

namespace hw {

class MainQueue;

// Calls functions of a page's scripts. Arguments travel as JSON, so no text
// is ever read as script. Does nothing once the view has gone.
class JSContextManager {
public:
    JSContextManager(QWebEngineView* view, MainQueue& queue);

    // Sets window[name] to the value.
    void registerObject(const JSON& value, const std::string& name);
    void callFunction(const std::string& function, const std::optional<std::vector<JSON>>& arguments = std::nullopt);
    void callFunctionOnMainQueue(const std::string& function,
                                 const std::optional<std::vector<JSON>>& arguments = std::nullopt);

    // The script that callFunction runs; empty for a name that is not a plain identifier path.
    static std::string callScript(const std::string& function, const std::optional<std::vector<JSON>>& arguments);

private:
    void run(const std::string& script);

    QPointer<QWebEngineView> webView;
    MainQueue& queue_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace hw
