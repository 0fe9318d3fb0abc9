#include "windows/welcome/welcome_window_view_controller.h"

#include <charconv>

#include "platform/log.h"
#include "texts/locale_data.h"
#include "windows/login/auth_window_view_controller.h"

namespace hw {
namespace {

constexpr char kLog[] = "Welcome";

}  // namespace

WelcomeWindowViewController::WelcomeWindowViewController(const BaseControllerContext& context, WindowView& window,
                                                         WelcomeWindowView& view, WelcomeDependencies dependencies)
    : BaseWindowViewController(context, window), view_(view), deps_(std::move(dependencies)) {
    setWindowName("Welcome");
    view_.setActions(this);
}

WelcomeWindowViewController::~WelcomeWindowViewController() { view_.setActions(nullptr); }

void WelcomeWindowViewController::setupAfterAwakeFromNib() {
    setupOnBoardingPages();
    if (pagesList_ && !pagesList_->empty() && !arrangedObjectsSet_) {
        view_.setArrangedPages(pagesList_->size());
        arrangedObjectsSet_ = true;
    }
    addPagination();
    view_.setButtonTitles(LocaleData::login_window_login_button(), LocaleData::login_window_sign_up_button());
}

void WelcomeWindowViewController::setupOnBoardingPages() {
    const auto bytes = deps_.readPageResource ? deps_.readPageResource() : std::nullopt;
    auto pages = bytes ? readOnBoardingPages(*bytes) : std::nullopt;
    if (!pages) {
        log::info(kLog, "onboarding pages could not be read");
        return;
    }
    pagesList_ = sortedOnBoardingPages(std::move(*pages));
    for (const OnBoardingPage& page : *pagesList_) log::info(kLog, page.identifier.value_or(""));
}

PageDotsFrame WelcomeWindowViewController::pageDotsFrame(long pages, double windowWidth) {
    const double width = pages > 0 ? pages * kDotDiameter + (pages - 1) * kDotMargin : 0.0;
    const double height = pages > 0 ? kDotDiameter : 0.0;
    return {(windowWidth - width) * 0.5, kDotsBottom, width, height};
}

void WelcomeWindowViewController::addPagination() {
    const long pages = pagesList_ ? static_cast<long>(pagesList_->size()) : 0;
    selection_.setCount(static_cast<std::size_t>(pages));
    // The content width: a frame with decorations would put the dots off centre.
    view_.setupPageDots(pages, kDotDiameter, kDotMargin, pageDotsFrame(pages, view_.contentWidth()));
    view_.setCurrentDot(0);
}

std::string WelcomeWindowViewController::identifierForObject(std::size_t index) const {
    if (!pagesList_ || index >= pagesList_->size()) return "0";
    return std::to_string(index);
}

OnBoardingPageItemViewController& WelcomeWindowViewController::viewControllerForIdentifier(
    const std::string& identifier) {
    auto& slot = pagesViewControllers_[identifier];
    if (!slot) {
        slot = std::make_unique<OnBoardingPageItemViewController>();
        std::size_t index = 0;
        std::from_chars(identifier.data(), identifier.data() + identifier.size(), index);
        if (pagesList_ && index < pagesList_->size()) slot->customView = (*pagesList_)[index];
    }
    return *slot;
}

void WelcomeWindowViewController::handleNextButtonClick() {
    if (selection_.canSelectNext()) view_.navigateForward();
    else skipWelcomePage();
}

void WelcomeWindowViewController::openAuthWindowInMode(const char* event, bool signUp, bool logIn) {
    log::info(kLog, event);
    AuthWindowViewController::ACTIVATE_SIGN_UP_STATE = signUp;
    AuthWindowViewController::ACTIVATE_LOG_IN_STATE = logIn;
    skipWelcomePage();
}

void WelcomeWindowViewController::onLogInButtonClick() { openAuthWindowInMode("onLogInButtonClick", false, true); }

void WelcomeWindowViewController::onSignUpButtonClick() { openAuthWindowInMode("onSignUpButtonClick", true, false); }

void WelcomeWindowViewController::skipWelcomePage() { deps_.shell.skipWelcomePage(); }

void WelcomeWindowViewController::pageControlDidSelectPageAtIndex(long index) {
    if (index < 0 || static_cast<std::size_t>(index) >= selection_.count()) return;
    view_.setSelectedIndex(static_cast<std::size_t>(index));
    selection_.setSelectionIndex(static_cast<std::size_t>(index));
    changeNextButtonLabel();
}

void WelcomeWindowViewController::pageControllerWillStartLiveTransition() {
    initialSelectedObject_ = view_.selectedIndex();
    view_.setPageHidden(*initialSelectedObject_, true);
}

void WelcomeWindowViewController::pageControllerDidEndLiveTransition() {
    view_.completeTransition();
    const std::size_t landed = view_.selectedIndex();
    // A swipe that comes back must not leave its page hidden.
    view_.setPageHidden(landed, false);
    view_.setCurrentDot(static_cast<long>(landed));
    selection_.setSelectionIndex(landed);
    changeNextButtonLabel();
}

}  // namespace hw
