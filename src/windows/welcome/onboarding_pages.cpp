#include "windows/welcome/onboarding_pages.h"

#include <algorithm>

#include "json/json.h"

namespace hw {

std::vector<OnBoardingPage> sortedOnBoardingPages(std::vector<OnBoardingPage> pages) {
    std::stable_sort(pages.begin(), pages.end(), [](const OnBoardingPage& a, const OnBoardingPage& b) {
        if (!a.identifier || !b.identifier) return !a.identifier && b.identifier;
        return *a.identifier < *b.identifier;  // std::string compares bytes
    });
    return pages;
}

std::optional<std::vector<OnBoardingPage>> readOnBoardingPages(std::string_view json) {
    const JSON root = JSON::parse(json);
    const auto entries = root["pages"].array();
    if (!entries) return std::nullopt;
    std::vector<OnBoardingPage> pages;
    for (const JSON& entry : *entries) {
        if (!entry.dictionary()) continue;
        OnBoardingPage page;
        page.identifier = entry["identifier"].string();
        page.image = entry["image"].string().value_or("");
        page.titleKey = entry["title"].string().value_or("");
        page.textKey = entry["text"].string().value_or("");
        pages.push_back(std::move(page));
    }
    return pages;
}

}  // namespace hw
