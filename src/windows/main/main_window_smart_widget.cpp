#include "windows/main/main_window_view_controller.h"
#include "core/grapheme_text.h"
#include "platform/log.h"
#include "services/links_manager.h"

namespace hw {

namespace {
constexpr char kLog[] = "MainWindow";
using Element = MainWindowView::SmartWidgetElement;
constexpr Element kAllElements[] = {Element::icon, Element::title, Element::subtitle, Element::link};
}  // namespace

std::pair<std::string, std::string> splitSmartWidgetSubtitle(const std::string& subtitle) {
    constexpr std::size_t kMax = MainWindowViewController::SMART_WIDGET_SUBTITLE_FIRST_LINE_MAX_ALLOWED_CHARS;
    if (characterCount(subtitle) <= kMax) return {subtitle, ""};
    std::string first;
    std::string second;
    std::size_t firstCount = 0;
    std::size_t start = 0;
    while (true) {
        const auto blank = subtitle.find(' ', start);
        const auto word = subtitle.substr(start, blank == std::string::npos ? std::string::npos : blank - start);
        const auto wordCount = characterCount(word);
        // Each word is tested on its own: a short word after a long one may still fit line 1.
        if (firstCount + wordCount + 1 < kMax + 1) {
            first += word + " ";
            firstCount += wordCount + 1;
        } else {
            second += word + " ";
        }
        if (blank == std::string::npos) break;
        start = blank + 1;
    }
    return {first, second};
}

void MainWindowViewController::showSmartWidgetDataLoading() {
    later(0, [](MainWindowViewController& self) { self.env_.view.setSmartWidgetLoading(true); });
}

void MainWindowViewController::hideSmartWidgetDataLoading() {
    later(0, [](MainWindowViewController& self) { self.env_.view.setSmartWidgetLoading(false); });
}

void MainWindowViewController::configureSmartWidgetWithData(const std::shared_ptr<SmartWidgetData>& data) {
    if (!data) return;
    recentSmartWidgetData_ = data;
    if (data->failedToLoadCachedImage()) {
        showSmartWidgetDataLoading();
        std::weak_ptr<MainWindowViewController> weak = weak_from_this();
        data->loadImageDataOnLoaded([weak, data] {
            auto self = weak.lock();
            if (!self) return;
            // A failed icon leaves the tile without one.
            self->env_.view.setSmartWidgetIcon(data->imageData);
            self->hideSmartWidgetDataLoading();
            self->applySmartWidgetData(data, false);
        });
        return;
    }
    env_.view.setSmartWidgetIcon(data->imageData);
    applySmartWidgetData(data, false);
}

void MainWindowViewController::onLatestSmartWidgetDataLoadedWithData(const std::shared_ptr<SmartWidgetData>& data) {
    if (!data) return;
    if (!recentSmartWidgetData_) {
        configureSmartWidgetWithData(data);
        return;
    }
    later(kSmartWidgetUpdateDelayMs, [data](MainWindowViewController& self) { self.updateSmartWidgetData(data); });
}

void MainWindowViewController::updateSmartWidgetData(const std::shared_ptr<SmartWidgetData>& data) {
    if (!data) return;
    hideSmartWidgetDataLoading();
    // What the tile shows now: recentSmartWidgetData moves on before the icon arrives.
    auto shown = recentSmartWidgetData_;
    std::weak_ptr<MainWindowViewController> weak = weak_from_this();
    data->loadImageDataOnLoaded([weak, data, shown] {
        auto self = weak.lock();
        if (!self) return;
        auto& view = self->env_.view;
        constexpr double fade = SMART_WIDGET_DATA_UPDATE_FADE_TIME;
        auto fadeOutIn = [&view, weak](Element element, std::function<void(MainWindowViewController&)> write) {
            view.fadeSmartWidget(element, false, fade, [weak, element, write = std::move(write)] {
                auto self = weak.lock();
                if (!self) return;
                write(*self);
                self->env_.view.fadeSmartWidget(element, true, fade, nullptr);
            });
        };
        if (!shown || shown->imageCachedFilename != data->imageCachedFilename) {
            fadeOutIn(Element::icon, [data](MainWindowViewController& s) { s.env_.view.setSmartWidgetIcon(data->imageData); });
        }
        if (view.smartWidgetTitle() != data->title) {
            fadeOutIn(Element::title, [data](MainWindowViewController& s) { s.env_.view.setSmartWidgetTitle(data->title); });
        }
        if (!shown || shown->subtitle != data->subtitle) {
            fadeOutIn(Element::subtitle,
                      [data](MainWindowViewController& s) { s.updateSmartWidgetSubtitleWithSubtitle(data->subtitle); });
        }
        if (!shown || shown->link_text != data->link_text) {
            fadeOutIn(Element::link, [data](MainWindowViewController& s) { s.env_.view.setSmartWidgetLinkText(data->link_text); });
        }
    });
    recentSmartWidgetData_ = data;
}

void MainWindowViewController::applySmartWidgetData(const std::shared_ptr<SmartWidgetData>& data, bool skipAnimation) {
    env_.view.setSmartWidgetTitle(data->title);
    updateSmartWidgetSubtitleWithSubtitle(data->subtitle);
    env_.view.setSmartWidgetLinkText(data->link_text);
    const double duration = skipAnimation ? 0.0 : SMART_WIDGET_DATA_UPDATE_FADE_TIME;
    for (auto element : kAllElements) env_.view.fadeSmartWidget(element, true, duration, nullptr);
    std::weak_ptr<MainWindowViewController> weak = weak_from_this();
    env_.view.setSmartWidgetClickHandler([weak] {
        if (auto self = weak.lock()) self->onSmartWidgetViewClick();
    });
}

void MainWindowViewController::updateSmartWidgetSubtitleWithSubtitle(const std::string& subtitle) {
    auto [first, second] = splitSmartWidgetSubtitle(subtitle);
    env_.view.setSmartWidgetSubtitle(first, second);
}

void MainWindowViewController::onSmartWidgetViewClick() { onSmartWidget_linkButtonClick(); }

void MainWindowViewController::onSmartWidget_linkButtonClick() {
    if (env_.isEnterpriseVersion) {
        openLink(env_.links.baseAddress() + kEnterpriseWidgetPage, "widget page");
        return;
    }
    if (!recentSmartWidgetData_) return;
    openLink(env_.links.buildLink(recentSmartWidgetData_->link), "widget link");
}

void MainWindowViewController::openLink(const std::optional<std::string>& link, const char* what) {
    // Links carry the account token: their addresses never reach the log.
    if (!link || !(link->starts_with("https://") || link->starts_with("http://"))) {
        log::info(kLog, std::string("no web address for the ") + what);
        return;
    }
    if (!context().urlOpener.openURL(*link)) log::info(kLog, std::string("the desktop did not open the ") + what);
}

}  // namespace hw
