#pragma once

namespace hw {

// The analytics catalogue: events begin with "ae_", parameters with "ap_".
struct AnalyticsEvent {
    AnalyticsEvent() = delete;

    static constexpr char VPN_CONNECTED_EVENT[] = "ae_vpn_connected";
    static constexpr char VPN_CONNECTING_EVENT[] = "ae_vpn_connecting";
    static constexpr char VPN_DISCONNECT_EVENT[] = "ae_vpn_disconnected";
    static constexpr char VPN_LOCATION_CHANGE_EVENT[] = "ae_current_vpn_location_changed";
    static constexpr char VPN_LOCATION_PARAMETER_NAME[] = "ap_location_id";
    static constexpr const char (&VPN_LOCATION_CHANGE_EVENT_PARAMETER_NAME)[sizeof(VPN_LOCATION_PARAMETER_NAME)] =
        VPN_LOCATION_PARAMETER_NAME;

    static constexpr char LOGIN_PAGE_LOGIN_RESULT_EVENT[] = "ae_user_login";
    static constexpr char LOGIN_PAGE_LOGIN_RESULT_PARAMETER_NAME[] = "ap_login_result";
    static constexpr char LOGIN_PAGE_LOGIN_RESULT_SUCCESS[] = "success";
    static constexpr char LOGIN_PAGE_LOGIN_RESULT_FAILED[] = "failed";
    static constexpr char LOGIN_PAGE_LOGIN_RESULT_ERROR[] = "error";

    static constexpr char SIGN_UP_PAGE_RESULT_EVENT[] = "ae_user_signup";
    static constexpr char SIGN_UP_RESULT_PARAMETER_NAME[] = "ap_signup_result";
    static constexpr char SIGN_UP_ERROR_MESSAGE_PARAMETER_NAME[] = "ap_signup_error_msg";
    static constexpr char SIGN_UP_RESULT_SUCCESS[] = "success";
    static constexpr char SIGN_UP_RESULT_ERROR[] = "error";
};

}  // namespace hw
