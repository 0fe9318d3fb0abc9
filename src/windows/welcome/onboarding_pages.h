#pragma once
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hw {

// One onboarding page as the page resource describes it.
struct OnBoardingPage {
    std::optional<std::string> identifier;  // none: sorted before every named page
    std::string image;                      // resource path of its picture
    std::string titleKey;                   // text keys of the catalogue
    std::string textKey;
    bool operator==(const OnBoardingPage&) const = default;
};

// Page order: unnamed pages first, then identifiers in byte order ("10" before "2").
std::vector<OnBoardingPage> sortedOnBoardingPages(std::vector<OnBoardingPage> pages);

// The page resource: {"pages": [{"identifier", "image", "title", "text"}, ...]}.
// None when it cannot be read as that; entries that are not objects are skipped.
std::optional<std::vector<OnBoardingPage>> readOnBoardingPages(std::string_view json);

// Stands in for the array controller behind Next: one entry per page.
class PageSelection {
public:
    void setCount(std::size_t count) { count_ = count; if (index_ >= count_) index_ = 0; }
    std::size_t count() const { return count_; }
    std::size_t selectionIndex() const { return index_; }
    void setSelectionIndex(std::size_t index) { if (index < count_) index_ = index; }
    bool canSelectNext() const { return index_ + 1 < count_; }

private:
    std::size_t count_ = 0;
    std::size_t index_ = 0;
};

}  // namespace hw
