#include "texts/locale_data.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "core/global_constants.h"
#include "support/capture_log.h"

namespace hw {
namespace {

std::vector<std::string> expectedKeys() {
    std::ifstream in(std::string(HW_SOURCE_DIR) + "/tests/texts/keys.txt");
    std::vector<std::string> keys;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line[0] != '#') keys.push_back(line);
    }
    return keys;
}

TEST(LocaleDataCatalogue, EveryKeyInUseResolvesAndNoOtherKeyExists) {
    const auto wanted = expectedKeys();
    ASSERT_GT(wanted.size(), 150u) << "keys.txt not found or truncated";
    for (const auto& key : wanted) EXPECT_TRUE(LocaleData::text(key).has_value()) << key;

    const std::set<std::string> wantedSet(wanted.begin(), wanted.end());
    std::set<std::string> held;
    for (auto key : LocaleData::keys()) {
        EXPECT_TRUE(held.insert(std::string(key)).second) << "key listed twice: " << key;
        EXPECT_TRUE(wantedSet.count(std::string(key))) << "key nobody asks for (misspelt?): " << key;
    }
    EXPECT_EQ(held.size(), wantedSet.size());
}

TEST(LocaleDataCatalogue, OnlyTheTwoDeliberatelyEmptyTextsAreEmpty) {
    std::set<std::string> empty;
    for (auto key : LocaleData::keys()) {
        if (LocaleData::text(key)->empty()) empty.insert(std::string(key));
    }
    EXPECT_EQ(empty, (std::set<std::string>{"free_trial_sign_up_empty_password_field_error_lower",
                                            "free_trial_sign_up_terms_of_service_agree_error_lower"}));
}

// Texts that other code compares against or completes, so their exact bytes matter.
TEST(LocaleDataCatalogue, TextsOtherCodeMatchesOnKeepTheirExactForm) {
    EXPECT_EQ(LocaleData::vpn_connection_generic_error(), LocaleData::vpn_ppp_error_new_1());
    EXPECT_EQ(LocaleData::vpn_ppp_error_new_1().back(), ' ') << "the error bar's link completes it";
    EXPECT_EQ(LocaleData::openvpn_not_reachable_error_notification(), "openvpn_not_reachable_error_notification");
    EXPECT_EQ(LocaleData::connect_button_status_connecting_label(), "CONNECTING" + std::string(6, ' '));
    EXPECT_EQ(LocaleData::menu_bar_menu_locations_item_label(), "Location: ");
    EXPECT_EQ(LocaleData::settings_page_toolbar_general_item_label(), " General    ");
    EXPECT_EQ(LocaleData::settings_window_general_options_start_minimized_label(), "  Start minimized");
    EXPECT_EQ(LocaleData::main_view_auto_reconnect_header(), "VPN Kill Switch is ON\nNow Reconnecting...");
    EXPECT_EQ(LocaleData::free_trial_wrong_response_error_notification().rfind("Received wrong responce", 0), 0u);
}

TEST(LocaleDataComposites, ProductNameTextsAreBuiltFromTheirParts) {
    const std::string p = GlobalConstants::bundleName;
    ASSERT_FALSE(p.empty());
    EXPECT_EQ(LocaleData::internet_connection_unavailable_error_part_1(), p + " Can't Connect");
    EXPECT_EQ(LocaleData::helper_tool_command_execute_error(),
              p + " Helper has failed to execute required commands.\n Please restart " + p + " app and try again.");
    EXPECT_EQ(LocaleData::text("settings_window_kill_switch_description"),
              "VPN Kill Switch ensures your online privacy and security by\nstopping all Internet traffic if " + p +
                  " disconnects\nunexpectedly.");
    EXPECT_EQ(LocaleData::auto_update_wish_to_update_popup_text(), p + " update v%@\nis available.");
}

TEST(LocaleDataComposites, SupportAddressTextsAreBuiltFromTheirParts) {
    const std::string s = GlobalConstants::supportEmail();
    ASSERT_NE(s.find('@'), std::string::npos);
    const std::string suffix = "\nPlease try again or contact the support team at " + s;
    EXPECT_EQ(LocaleData::free_trial_failed_error_suffix(), suffix);
    EXPECT_EQ(&LocaleData::free_trial_failed_error_suffix(), &LocaleData::free_trial_failed_error_suffix());
    EXPECT_EQ(LocaleData::free_trial_unknown_error_notification(), "Received unknown responce from the server. " + suffix);
    EXPECT_EQ(LocaleData::generic_error_notification_lower(), "Contact support team at " + s);
    EXPECT_EQ(LocaleData::login_connection_error_notification(), "Please try again or contact our support team at " + s);
}

TEST(LocaleDataLookup, UnknownKeyAnswersNoneAndIsLogged) {
    auto log = test::CaptureLog::install();
    EXPECT_EQ(LocaleData::text("vpn_ppp_error_new_5"), std::nullopt);
    EXPECT_EQ(LocaleData::text(""), std::nullopt);
    EXPECT_EQ(LocaleData::text("VPN_PPP_ERROR_NEW_1"), std::nullopt) << "keys are case-sensitive";
    EXPECT_TRUE(log->contains("vpn_ppp_error_new_5"));

    const std::string huge(10000, 'k');
    EXPECT_EQ(LocaleData::text(huge), std::nullopt);
    for (const auto& line : log->lines()) EXPECT_LT(line.message.size(), 200u);
    log::setSink(nullptr);
}

TEST(LocaleDataFill, SubstitutesPlainlyWithoutReadingTheValueAsAFormat) {
    EXPECT_EQ(LocaleData::fill(LocaleData::settings_window_version_format_label(), "2.4.1"), "Version 2.4.1");
    EXPECT_EQ(LocaleData::fill("a %@ b %@", "x"), "a x b x");
    EXPECT_EQ(LocaleData::fill("no marker", "x"), "no marker");
    EXPECT_EQ(LocaleData::fill("Version %@", "%@%s%n%d"), "Version %@%s%n%d");
    EXPECT_EQ(LocaleData::fill("%@", ""), "");
    EXPECT_EQ(LocaleData::fill("100% %%@", "x"), "100% %x");
}

// Callers ask LocaleData instead of spelling a text again.
std::string asCppLiteral(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\n') out += "\\n";
        else if (c == '"' || c == '\\') (out += '\\') += c;
        else out += c;
    }
    return out + "\"";
}

TEST(LocaleDataCatalogue, NoOtherSourceSpellsALongTextAgain) {
    namespace fs = std::filesystem;
    // Single words that are also the vocabulary of an outside protocol (openvpn's
    // management states), where code must match the peer's text, not ours.
    const std::set<std::string> protocolWords = {"RECONNECTING"};
    std::vector<std::pair<std::string, std::string>> literals;
    for (auto key : LocaleData::keys()) {
        const std::string text = *LocaleData::text(key);
        if (protocolWords.count(text)) continue;
        if (text.size() >= 12 && text != key) literals.emplace_back(std::string(key), asCppLiteral(text));
    }
    for (const char* root : {"src", "helper"}) {
        const fs::path dir = fs::path(HW_SOURCE_DIR) / root;
        if (!fs::exists(dir)) continue;
        for (const auto& entry : fs::recursive_directory_iterator(dir)) {
            const auto ext = entry.path().extension();
            if (!entry.is_regular_file() || (ext != ".cpp" && ext != ".h")) continue;
            if (entry.path().parent_path() == fs::path(HW_SOURCE_DIR) / "src" / "texts") continue;
            std::ifstream in(entry.path());
            std::stringstream body;
            body << in.rdbuf();
            const std::string s = body.str();
            for (const auto& [key, literal] : literals) {
                EXPECT_EQ(s.find(literal), std::string::npos)
                    << entry.path() << " spells the text of " << key << "; ask LocaleData::" << key << "() instead";
            }
        }
    }
}

}  // namespace
}  // namespace hw
