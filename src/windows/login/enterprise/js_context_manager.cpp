#include "windows/login/enterprise/js_context_manager.h"

#include <QWebEnginePage>
#include <QWebEngineView>

#include "platform/main_queue.h"

namespace hw {
namespace {

// window.a.b.c, nothing that could be read as more script.
bool isIdentifierPath(const std::string& name) {
    bool atStart = true;
    for (char c : name) {
        const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == '$';
        const bool digit = c >= '0' && c <= '9';
        if (c == '.') {
            if (atStart) return false;
            atStart = true;
        } else if (letter || (digit && !atStart)) {
            atStart = false;
        } else {
            return false;
        }
    }
    return !atStart;
}

std::string jsonArray(const std::vector<JSON>& items) { return JSON(items).rawData(); }

}  // namespace

JSContextManager::JSContextManager(QWebEngineView* view, MainQueue& queue) : webView(view), queue_(queue) {}

std::string JSContextManager::callScript(const std::string& function,
                                         const std::optional<std::vector<JSON>>& arguments) {
    if (!isIdentifierPath(function)) return {};
    return "(function () { var f = window." + function + "; if (typeof f === 'function') f.apply(null, " +
           jsonArray(arguments.value_or(std::vector<JSON>{})) + "); })();";
}

void JSContextManager::registerObject(const JSON& value, const std::string& name) {
    if (!isIdentifierPath(name) || name.find('.') != std::string::npos) return;
    run("window['" + name + "'] = " + jsonArray({value}) + "[0];");
}

void JSContextManager::callFunction(const std::string& function, const std::optional<std::vector<JSON>>& arguments) {
    run(callScript(function, arguments));
}

void JSContextManager::callFunctionOnMainQueue(const std::string& function,
                                               const std::optional<std::vector<JSON>>& arguments) {
    std::weak_ptr<bool> alive = alive_;
    queue_.post([this, alive, function, arguments] {
        if (!alive.expired()) callFunction(function, arguments);
    });
}

void JSContextManager::run(const std::string& script) {
    if (script.empty() || !webView) return;
    webView->page()->runJavaScript(QString::fromStdString(script));
}

}  // namespace hw
