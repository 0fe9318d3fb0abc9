#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <openvpn/openvpn-plugin.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "../fake_system.h"
#include "helper/openvpn/openvpn_event.h"
#include "platform/helper_socket.h"

namespace hw::helper {
namespace {

// The built plugin, loaded and called as openvpn does, telling a helper
// socket of ours.
class EventPlugin : public ::testing::Test {
protected:
    using Open = int (*)(int, const openvpn_plugin_args_open_in*, openvpn_plugin_args_open_return*);
    using Func = int (*)(int, const openvpn_plugin_args_func_in*, openvpn_plugin_args_func_return*);
    using Close = void (*)(openvpn_plugin_handle_t);

    void SetUp() override {
        // Kept loaded: its own C++ runtime's start-up allocation stays reachable.
        library_ = ::dlopen(HW_BINARY_DIR "/helper/havenway-openvpn-plugin.so", RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        ASSERT_NE(library_, nullptr) << ::dlerror();
        open_ = reinterpret_cast<Open>(::dlsym(library_, "openvpn_plugin_open_v3"));
        func_ = reinterpret_cast<Func>(::dlsym(library_, "openvpn_plugin_func_v3"));
        close_ = reinterpret_cast<Close>(::dlsym(library_, "openvpn_plugin_close_v1"));
        ASSERT_TRUE(open_ && func_ && close_);
        listener_ = UniqueFd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, socket_.c_str(), sizeof addr.sun_path - 1);
        ASSERT_EQ(::bind(listener_.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        ASSERT_EQ(::listen(listener_.get(), 4), 0);
    }
    int open(std::vector<const char*> argv, openvpn_plugin_handle_t* handle, int* mask = nullptr) {
        argv.push_back(nullptr);
        const char* envp[] = {nullptr};
        openvpn_plugin_args_open_in in{OPENVPN_PLUGIN_MASK(OPENVPN_PLUGIN_UP), argv.data(), envp, nullptr, SSLAPI_NONE,
                                       "2.6", 2, 6, "0"};
        openvpn_plugin_args_open_return out{0, nullptr, nullptr};
        const int result = open_(OPENVPN_PLUGINv3_STRUCTVER, &in, &out);
        *handle = out.handle;
        if (mask) *mask = out.type_mask;
        return result;
    }
    int call(openvpn_plugin_handle_t handle, int type, std::vector<const char*> env) {
        env.push_back(nullptr);
        const char* argv[] = {"tun0", nullptr};
        openvpn_plugin_args_func_in in{type, argv, env.data(), handle, nullptr, 0, nullptr};
        openvpn_plugin_args_func_return out{nullptr};
        return func_(OPENVPN_PLUGINv3_STRUCTVER, &in, &out);
    }
    // What the helper heard, if anything reached it.
    std::optional<HelperMessage> heard() {
        UniqueFd peer(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (!peer) return std::nullopt;
        auto envelope = receiveHelperMessage(peer.get(), 2000, nullptr);
        return envelope ? std::optional(envelope->message) : std::nullopt;
    }

    test::ScratchDir dir_;
    std::string socket_ = dir_ / "helper.sock";
    void* library_ = nullptr;
    Open open_ = nullptr;
    Func func_ = nullptr;
    Close close_ = nullptr;
    UniqueFd listener_;
};

TEST_F(EventPlugin, TellsTheHelperTheDeviceAndPushedDnsOfEachEvent) {
    openvpn_plugin_handle_t handle = nullptr;
    int mask = 0;
    ASSERT_EQ(open({"plugin.so", socket_.c_str()}, &handle, &mask), OPENVPN_PLUGIN_FUNC_SUCCESS);
    EXPECT_EQ(mask, OPENVPN_PLUGIN_MASK(OPENVPN_PLUGIN_UP) | OPENVPN_PLUGIN_MASK(OPENVPN_PLUGIN_DOWN));

    struct Row {
        const char* what;
        int type;
        std::vector<const char*> env;
        const char* rpc;  // nullptr: nothing is sent
        const char* dev;
        HelperArray dns;
        // The server and the way out to it, for the helper to keep that route.
        const char* server = nullptr;
        const char* netGateway = nullptr;
        // The tunnel's gateway, for an app that takes the tunnel over.
        const char* vpnGateway = nullptr;
    };
    const std::vector<Row> rows = {
        {"up with two servers among other options", OPENVPN_PLUGIN_UP,
         {"dev_type=tun", "dev=tun1", "foreign_option_1=dhcp-option DNS 10.89.0.1",
          "foreign_option_2=dhcp-option DOMAIN example.test", "foreign_option_3=dhcp-option DNS 10.89.0.2",
          "trusted_ip=198.51.100.9", "route_net_gateway=192.168.1.1", "route_vpn_gateway=10.8.0.1"},
         "up", "tun1", {HelperValue("10.89.0.1"), HelperValue("10.89.0.2")}, "198.51.100.9", "192.168.1.1",
         "10.8.0.1"},
        {"a point-to-point tunnel's peer is its gateway", OPENVPN_PLUGIN_UP, {"dev=tun2", "ifconfig_remote=10.89.0.5"},
         "up", "tun2", {}, nullptr, nullptr, "10.89.0.5"},
        {"numbering stops at the first gap", OPENVPN_PLUGIN_UP,
         {"dev=tun0", "foreign_option_2=dhcp-option DNS 10.89.0.9"}, "up", "tun0", {}},
        {"down", OPENVPN_PLUGIN_DOWN, {"dev=tun0"}, "down", "tun0", {}},
        {"no device named", OPENVPN_PLUGIN_UP, {"device=tun0", "foreign_option_1=dhcp-option DNS 10.89.0.1"}, nullptr,
         nullptr, {}},
        {"an event it did not ask for", OPENVPN_PLUGIN_ROUTE_UP, {"dev=tun0"}, nullptr, nullptr, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(call(handle, row.type, row.env), OPENVPN_PLUGIN_FUNC_SUCCESS);
        auto message = heard();
        if (!row.rpc) {
            EXPECT_FALSE(message);
            continue;
        }
        ASSERT_TRUE(message);
        EXPECT_EQ(*helperString(*message, "type"), kOpenVPNEventType);
        EXPECT_EQ(*helperString(*message, "rpc"), row.rpc);
        const HelperDictionary* parameters = helperDictionary(*message, "parameters");
        ASSERT_TRUE(parameters);
        EXPECT_EQ(*helperString(*parameters, "dev"), row.dev);
        EXPECT_EQ(helperInt(*parameters, "pid"), ::getpid()) << "openvpn's own pid: the helper checks it";
        const HelperArray* dns = parameters->at("dns").array();
        ASSERT_TRUE(dns);
        EXPECT_EQ(*dns, row.dns);
        const std::string* server = helperString(*parameters, "server");
        const std::string* gateway = helperString(*parameters, "netGateway");
        EXPECT_EQ(server ? *server : "", row.server ? row.server : "");
        EXPECT_EQ(gateway ? *gateway : "", row.netGateway ? row.netGateway : "");
        const std::string* tunnelGateway = helperString(*parameters, "vpnGateway");
        EXPECT_EQ(tunnelGateway ? *tunnelGateway : "", row.vpnGateway ? row.vpnGateway : "");
    }

    // A helper that cannot be reached never fails openvpn's tunnel.
    ::unlink(socket_.c_str());
    EXPECT_EQ(call(handle, OPENVPN_PLUGIN_UP, {"dev=tun0"}), OPENVPN_PLUGIN_FUNC_SUCCESS);
    close_(handle);
}

TEST_F(EventPlugin, TakesExactlyTheHelperSocket) {
    openvpn_plugin_handle_t handle = nullptr;
    EXPECT_EQ(open({"plugin.so"}, &handle), OPENVPN_PLUGIN_FUNC_ERROR);
    EXPECT_EQ(open({"plugin.so", socket_.c_str(), "more"}, &handle), OPENVPN_PLUGIN_FUNC_ERROR);
}

}  // namespace
}  // namespace hw::helper
