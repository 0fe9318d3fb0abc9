#pragma once
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "view/base_window_view_controller.h"
#include "windows/shared/shell_commands.h"
#include "windows/welcome/onboarding_pages.h"
#include "windows/welcome/welcome_window_view.h"

namespace hw {

// Presents one page; the widget builds the page's view from it.
class OnBoardingPageItemViewController {
public:
    std::optional<OnBoardingPage> customView;
};

struct WelcomeDependencies {
    ShellCommands& shell;
    // The page resource's bytes; none when it cannot be read.
    std::function<std::optional<std::string>()> readPageResource;
};

// The onboarding pages and the hand-over to the login window. Plain C++;
// main thread only.
class WelcomeWindowViewController final : public BaseWindowViewController, private WelcomeActions {
public:
    static constexpr double kDotDiameter = 7.0;
    static constexpr double kDotMargin = 8.0;
    static constexpr double kDotsBottom = 110.0;

    WelcomeWindowViewController(const BaseControllerContext& context, WindowView& window, WelcomeWindowView& view,
                                WelcomeDependencies dependencies);
    ~WelcomeWindowViewController() override;

    const std::optional<std::vector<OnBoardingPage>>& pagesList() const { return pagesList_; }
    const PageSelection& pageItemsArrayController() const { return selection_; }
    bool arrangedObjectsSet() const { return arrangedObjectsSet_; }

    // The page container's questions.
    std::string identifierForObject(std::size_t index) const;
    OnBoardingPageItemViewController& viewControllerForIdentifier(const std::string& identifier);
    std::size_t pagesViewControllersCount() const { return pagesViewControllers_.size(); }

    // Where the dots go for this many pages in a window this wide.
    static PageDotsFrame pageDotsFrame(long pages, double windowWidth);

    void handleNextButtonClick() override;
    void onLogInButtonClick() override;
    void onSignUpButtonClick() override;
    void skipWelcomePage() override;
    void pageControlDidSelectPageAtIndex(long index) override;
    void pageControllerWillStartLiveTransition() override;
    void pageControllerDidEndLiveTransition() override;

protected:
    void setupAfterAwakeFromNib() override;

private:
    void setupOnBoardingPages();
    void addPagination();
    void changeNextButtonLabel() {}
    void openAuthWindowInMode(const char* event, bool signUp, bool logIn);

    WelcomeWindowView& view_;
    WelcomeDependencies deps_;
    std::optional<std::vector<OnBoardingPage>> pagesList_;
    std::map<std::string, std::unique_ptr<OnBoardingPageItemViewController>> pagesViewControllers_;
    PageSelection selection_;
    std::optional<std::size_t> initialSelectedObject_;
    bool arrangedObjectsSet_ = false;
};

}  // namespace hw
