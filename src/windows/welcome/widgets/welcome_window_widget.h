#pragma once
#include <QRectF>
#include <functional>
#include <map>
#include <optional>

#include "view/bf_page_control.h"
#include "view/kit_window.h"
#include "windows/welcome/welcome_window_view.h"

class QLabel;
class QPushButton;

namespace hw {

class PageContainer;

// The dots' frame in the widget's own (y-down) coordinates, unrounded.
QRectF welcomeDotsRect(const PageDotsFrame& yUp, double contentHeight);

// The welcome window: the sliding pages, the dots, Next, Log In and Sign Up.
// Draws and forwards; the controller decides.
class WelcomeWindowWidget final : public KitWindow, public WelcomeWindowView, private BFPageControlDelegate {
    Q_OBJECT
public:
    static constexpr QSize kSize{400, 500};

    WelcomeWindowWidget();
    ~WelcomeWindowWidget() override;
    // The onboarding resource lives in this library.
    static void registerResources();

    // Answers the page shown at an index; set by whoever owns the controller.
    std::function<std::optional<OnBoardingPage>(std::size_t index)> pageAt;

    void setActions(WelcomeActions* actions) override { actions_ = actions; }
    double contentWidth() const override { return width(); }
    void setArrangedPages(std::size_t count) override;
    std::size_t selectedIndex() const override;
    void setSelectedIndex(std::size_t index) override;
    void navigateForward() override;
    void completeTransition() override;
    void setPageHidden(std::size_t index, bool hidden) override;
    void setupPageDots(long pages, double diameter, double margin, const PageDotsFrame& frame) override;
    void setCurrentDot(long index) override;
    void setButtonTitles(const std::string& logIn, const std::string& signUp) override;

    // For tests and shots.
    PageContainer& pages() const { return *pages_; }
    BFPageControl& dots() const { return *dots_; }
    QPushButton& nextButton() const { return *next_; }
    QPushButton& logInButton() const { return *logIn_; }
    QPushButton& signUpButton() const { return *signUp_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QWidget* makePage(std::size_t index);
    void pageControlDidSelectPageAtIndex(BFPageControl& control, long index) override;

    WelcomeActions* actions_ = nullptr;
    PageContainer* pages_ = nullptr;
    BFPageControl* dots_ = nullptr;
    QPushButton* next_ = nullptr;
    QPushButton* logIn_ = nullptr;
    QPushButton* signUp_ = nullptr;
};

}  // namespace hw
