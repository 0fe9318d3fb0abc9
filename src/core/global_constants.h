#pragma once
#include <map>
#include <string>

#include "core/notification_bar_style_model.h"
#include "havenway/build_config.h"

namespace hw {

// Values fixed for a build. Deployment settings (hosts, e-mail addresses)
// default to the configure-time values and can be redirected for tests by
// environment: HAVENWAY_BACKEND_HOST, HAVENWAY_WEB_HOST, HAVENWAY_IDENTITY_HOST,
// HAVENWAY_SUPPORT_EMAIL, HAVENWAY_FEEDBACK_EMAIL, HAVENWAY_TEST_ACCOUNT_EMAIL.
// A host without a scheme is reached over https.
//
// Only the log directory and the two DNS resolvers change at run time; they
// are read from several threads, so their accessors lock.
struct GlobalConstants {
    GlobalConstants() = delete;

    // Build switches. The edition is chosen when the executable is linked:
    // the libraries are shared, and the enterprise entry defines its own value.
    static const bool isEnterpriseVersion;
    static constexpr bool useDebugUpdatePackage = false;
    static constexpr bool alwaysShowWelcomePage = false;
    static constexpr bool freeTrialVerificationStep = false;
    static constexpr bool useAlternateCreateAccountFlow = false;
    static constexpr bool rejectInAppFreeTrialSignUp = false;
    static constexpr bool useFreeTrialAuthorizeV2 = true;

    // Identity of the application.
    static constexpr char bundleName[] = "Havenway";
    static constexpr char appVersion[] = HW_VERSION;
    static constexpr char bundleIdentifier[] = "com.havenway.Havenway";
    static constexpr const char (&keychainServiceName)[sizeof(bundleIdentifier)] = bundleIdentifier;
    static constexpr const char (&vpnConnectionName)[sizeof(bundleName)] = bundleName;

    // Backend and identity service.
    static std::string parseServerHost();
    static std::string parseServerURL();  // parseServerHost + "/parse"
    static constexpr char parseApplicationId[] = "Tm4Kq9Xz2Lw7Rb5Nc8Vd3Hf6Jp1Gs0Yt4Qk9Ze2W";
    static constexpr char parseClientKey[] = "7Hc2Mv9Qp4Xn1Lb8Rt5Kw3Zd6Fj0Gy2Ns7Tq4VbE";
    static std::string oauthTokenURL();
    // The identity service's sign-in page that the enterprise page opens.
    static std::string oauthAuthorizeURL();
    static std::string oauthUserInfoURL();
    static constexpr char oauthClientID[] = "Xq7pLmN2vR8tKw4zYb6cHd9fJs3gTn5e";
    static constexpr char oauthClientSecret[] =
        "Vb3nQ7xKm2Lp9Rt4Wz8Yc6Hd1Fj5Gs0Nk3Pq7Tv2Xw9Zb4Mc8Ld6Rf1Hj5Kn0SpA";
    static constexpr char oauthCallbackURL[] = "havenway://oauth/callback";
    static std::string analyticsTrackerURL();
    static constexpr char platformTag[] = "mac-v2";

    // DNS resolvers of a connection request; the remote configuration may
    // replace them ("DNSResolver", "DNSResolverSecondary"). A text that is not
    // an IPv4 or IPv6 address is refused (false) and the old value stays.
    static std::string dnsResolver();  // initially "8.8.4.4"
    static bool setDnsResolver(std::string address);
    static std::string dnsResolverSecondary();  // initially "8.8.8.8"
    static bool setDnsResolverSecondary(std::string address);
    // Fallback DNS servers of the network lock.
    static constexpr char primaryDNS[] = "8.8.8.8";
    static constexpr char secondaryDNS[] = "8.8.4.4";
    // The network lock's resolvers: each the remote configuration's
    // resolver once one was accepted, else its fallback above.
    static std::string networkLockPrimaryDNS();
    static std::string networkLockSecondaryDNS();
    // Back to the built-in resolvers, as before any remote configuration.
    static void resetDnsResolvers();

    // Web site, support and test account.
    static std::string termsOfServiceURL();
    static std::string supportEmail();
    static std::string feedbackEmail();
    static constexpr char passwordResetPath[] = "members/pwreset.php";
    static constexpr char signUpPath[] = "signup";
    static constexpr char autoLoginPath[] = "/api/autoclientarealogin.php";
    static std::string testAccountEmail();
    static std::string testAccountPassword();

    // The data folder that holds the openvpn configuration and the error
    // log: $XDG_DATA_HOME/havenway until something assigns another folder.
    // Assigning an empty text returns to that default.
    static std::string logsDirectoryPath();
    static void setLogsDirectoryPath(std::string path);
    // logsDirectoryPath + "/error.log"; empty only when no home folder can be
    // found, never a file at the root.
    static std::string errorLogFilePath();

    // "tip" and "action"; names are case-sensitive.
    static const std::map<std::string, NotificationBarStyleModel>& notificationBarStyles();
};

}  // namespace hw
