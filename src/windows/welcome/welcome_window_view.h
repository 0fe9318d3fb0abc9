#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "windows/welcome/onboarding_pages.h"

namespace hw {

class WelcomeActions {
public:
    virtual ~WelcomeActions() = default;
    virtual void handleNextButtonClick() = 0;
    virtual void onLogInButtonClick() = 0;
    virtual void onSignUpButtonClick() = 0;
    virtual void skipWelcomePage() = 0;
    virtual void pageControlDidSelectPageAtIndex(long index) = 0;
    // The page container's reports, for Next and for swipes alike.
    virtual void pageControllerWillStartLiveTransition() = 0;
    virtual void pageControllerDidEndLiveTransition() = 0;
};

// The dots' frame in the kit's y-up points, inside the window's content.
struct PageDotsFrame {
    double x = 0, y = 0, width = 0, height = 0;
    bool operator==(const PageDotsFrame&) const = default;
};

// What the welcome window's controller asks of its widget.
class WelcomeWindowView {
public:
    virtual ~WelcomeWindowView() = default;
    virtual void setActions(WelcomeActions* actions) = 0;
    virtual double contentWidth() const = 0;

    // The container's arranged objects; it shows the first.
    virtual void setArrangedPages(std::size_t count) = 0;
    virtual std::size_t selectedIndex() const = 0;
    // Without the slide.
    virtual void setSelectedIndex(std::size_t index) = 0;
    // The slide to the next page; the container reports its start and end.
    virtual void navigateForward() = 0;
    virtual void completeTransition() = 0;
    virtual void setPageHidden(std::size_t index, bool hidden) = 0;

    virtual void setupPageDots(long pages, double diameter, double margin, const PageDotsFrame& frame) = 0;
    virtual void setCurrentDot(long index) = 0;
    virtual void setButtonTitles(const std::string& logIn, const std::string& signUp) = 0;
};

}  // namespace hw
