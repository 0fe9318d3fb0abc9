#include "texts/locale_data.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "core/global_constants.h"
#include "support/capture_log.h"

namespace hw {
namespace {

namespace fs = std::filesystem;

std::string readAll(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream body;
    body << in.rdbuf();
    return body.str();
}

// Every source file that may ask for a text, the catalogue's own folder left out.
const std::vector<std::pair<fs::path, std::string>>& sources() {
    static const auto files = [] {
        std::vector<std::pair<fs::path, std::string>> out;
        const fs::path root(HW_SOURCE_DIR);
        for (const char* dir : {"src", "helper"}) {
            for (const auto& entry : fs::recursive_directory_iterator(root / dir)) {
                const auto ext = entry.path().extension();
                if (!entry.is_regular_file() || (ext != ".cpp" && ext != ".h")) continue;
                if (entry.path().parent_path() == root / "src" / "texts") continue;
                out.emplace_back(entry.path(), readAll(entry.path()));
            }
        }
        return out;
    }();
    return files;
}

bool isWordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

bool mentions(const std::string& body, std::string_view word) {
    for (auto at = body.find(word); at != std::string::npos; at = body.find(word, at + 1)) {
        const auto end = at + word.size();
        if ((at == 0 || !isWordChar(body[at - 1])) && (end == body.size() || !isWordChar(body[end]))) return true;
    }
    return false;
}

// Keys asked for by name at run time (the manager's PPP cause groups, the onboarding
// pages), a part other texts are built from, and texts kept for controls not built here.
std::vector<std::string> keysAskedForAtRunTime() {
    std::vector<std::string> keys = {"free_trial_failed_error_suffix",
                                     "settings_window_vpn_protocols_pptp_label",
                                     "settings_window_vpn_protocols_ikev2_label"};
    for (const char* group : {"1", "2", "3", "4"}) keys.push_back(std::string("vpn_ppp_error_new_") + group);
    const std::string pages = readAll(fs::path(HW_SOURCE_DIR) / "resources/onboarding/pages.json");
    const std::regex key(R"re("(?:title|text)":\s*"(\w+)")re");
    for (std::sregex_iterator it(pages.begin(), pages.end(), key), end; it != end; ++it) keys.push_back((*it)[1]);
    return keys;
}

TEST(LocaleDataCatalogue, EveryKeyIsAskedForAndEveryKeyAskedForResolves) {
    const auto dynamic = keysAskedForAtRunTime();
    ASSERT_GT(dynamic.size(), 8u) << "onboarding pages not found";
    for (const auto& key : dynamic) EXPECT_TRUE(LocaleData::text(key).has_value()) << key;

    const std::set<std::string> dynamicSet(dynamic.begin(), dynamic.end());
    const std::set<std::string> deliberatelyEmpty = {"free_trial_sign_up_empty_password_field_error_lower",
                                                     "free_trial_sign_up_terms_of_service_agree_error_lower"};
    std::set<std::string> held;
    for (auto key : LocaleData::keys()) {
        EXPECT_TRUE(held.insert(std::string(key)).second) << "key listed twice: " << key;
        EXPECT_EQ(LocaleData::text(key)->empty(), deliberatelyEmpty.count(std::string(key)) > 0) << key;
        bool used = dynamicSet.count(std::string(key)) > 0;
        for (const auto& [path, body] : sources()) used = used || mentions(body, key);
        EXPECT_TRUE(used) << "key nobody asks for (misspelt?): " << key;
    }
}

// Texts other code compares against or completes, and composites of the product
// name and support address: their exact bytes matter.
TEST(LocaleDataCatalogue, TextsOtherCodeMatchesOnAndCompositesKeepTheirExactForm) {
    EXPECT_EQ(LocaleData::vpn_connection_generic_error(), LocaleData::vpn_ppp_error_new_1());
    EXPECT_EQ(LocaleData::vpn_ppp_error_new_1().back(), ' ') << "the error bar's link completes it";
    EXPECT_EQ(LocaleData::openvpn_not_reachable_error_notification(), "openvpn_not_reachable_error_notification");
    EXPECT_EQ(LocaleData::connect_button_status_connecting_label(), "CONNECTING" + std::string(6, ' '));

    const std::string p = GlobalConstants::bundleName, s = GlobalConstants::supportEmail();
    ASSERT_NE(s.find('@'), std::string::npos);
    const std::string suffix = "\nPlease try again or contact the support team at " + s;
    const std::pair<std::string, std::string> rows[] = {
        {LocaleData::helper_tool_command_execute_error(),
         p + " Helper has failed to execute required commands.\n Please restart " + p + " app and try again."},
        {LocaleData::auto_update_wish_to_update_popup_text(), p + " update v%@\nis available."},
        {LocaleData::free_trial_unknown_error_notification(), "Received unknown responce from the server. " + suffix},
        {LocaleData::generic_error_notification_lower(), "Contact support team at " + s},
        {LocaleData::quit_app_confirmation_popup_title(), "Closing " + p},
        {LocaleData::quit_app_confirmation_popup_text(),
         p + "'s VPN protection will be turned off until " + p + " is reopened."},
    };
    for (const auto& [got, want] : rows) EXPECT_EQ(got, want);
}

TEST(LocaleDataLookup, UnknownKeyAnswersNoneAndIsLoggedShort) {
    auto log = test::CaptureLog::install();
    for (const std::string& key : {std::string("vpn_ppp_error_new_5"), std::string("VPN_PPP_ERROR_NEW_1"),
                                   std::string(10000, 'k')}) {
        EXPECT_EQ(LocaleData::text(key), std::nullopt) << key.substr(0, 20);
    }
    EXPECT_TRUE(log->contains("vpn_ppp_error_new_5"));
    for (const auto& line : log->lines()) EXPECT_LT(line.message.size(), 200u);
    log::setSink(nullptr);
}

TEST(LocaleDataFill, SubstitutesPlainlyWithoutReadingTheValueAsAFormat) {
    const std::tuple<std::string, std::string, std::string> rows[] = {
        {LocaleData::settings_window_version_format_label(), "2.4.1", "Version 2.4.1"},
        {"a %@ b %@", "x", "a x b x"},
        {"no marker", "x", "no marker"},
        {"Version %@", "%@%s%n%d", "Version %@%s%n%d"},
        {"100% %%@", "x", "100% %x"},
    };
    for (const auto& [format, value, want] : rows) EXPECT_EQ(LocaleData::fill(format, value), want) << format;
}

std::string asCppLiteral(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\n') out += "\\n";
        else if (c == '"' || c == '\\') (out += '\\') += c;
        else out += c;
    }
    return out + "\"";
}

// Callers ask LocaleData instead of spelling a text again.
TEST(LocaleDataCatalogue, NoOtherSourceSpellsALongTextAgain) {
    // A word that is also openvpn's management vocabulary, where code must match the peer's text.
    const std::set<std::string> protocolWords = {"RECONNECTING"};
    for (auto key : LocaleData::keys()) {
        const std::string text = *LocaleData::text(key);
        if (protocolWords.count(text) || text.size() < 12 || text == key) continue;
        const std::string literal = asCppLiteral(text);
        for (const auto& [path, body] : sources()) {
            EXPECT_EQ(body.find(literal), std::string::npos)
                << path << " spells the text of " << key << "; ask LocaleData::" << key << "() instead";
        }
    }
}

}  // namespace
}  // namespace hw
