// Loaded into the openvpn the helper starts: its up and down events reach the
// helper from inside openvpn, where a command would cost a process at every
// connect while the tunnel waits. Built without the sanitizers, as openvpn is.
#include <openvpn/openvpn-plugin.h>
#include <unistd.h>

#include <cstring>
#include <new>
#include <string>

#include "helper/openvpn/openvpn_event.h"

#define HW_PLUGIN_ENTRY extern "C" __attribute__((visibility("default")))

namespace {

struct Plugin {
    std::string socketPath;
    plugin_log_t log = nullptr;
};

const char* lookup(const char** envp, const std::string& name) {
    for (; envp && *envp; ++envp)
        if (std::strncmp(*envp, name.c_str(), name.size()) == 0 && (*envp)[name.size()] == '=')
            return *envp + name.size() + 1;
    return nullptr;
}

}  // namespace

HW_PLUGIN_ENTRY int openvpn_plugin_min_version_required_v1() { return 3; }

// "--plugin <this file> <helper socket>"
HW_PLUGIN_ENTRY int openvpn_plugin_open_v3(const int version, struct openvpn_plugin_args_open_in const* in,
                                           struct openvpn_plugin_args_open_return* out) {
    if (version < 3 || !in->argv || !in->argv[0] || !in->argv[1] || in->argv[2]) return OPENVPN_PLUGIN_FUNC_ERROR;
    auto* plugin = new (std::nothrow) Plugin{in->argv[1], in->callbacks ? in->callbacks->plugin_log : nullptr};
    if (!plugin) return OPENVPN_PLUGIN_FUNC_ERROR;
    out->type_mask = OPENVPN_PLUGIN_MASK(OPENVPN_PLUGIN_UP) | OPENVPN_PLUGIN_MASK(OPENVPN_PLUGIN_DOWN);
    out->handle = reinterpret_cast<openvpn_plugin_handle_t>(plugin);
    return OPENVPN_PLUGIN_FUNC_SUCCESS;
}

HW_PLUGIN_ENTRY int openvpn_plugin_func_v3(const int, struct openvpn_plugin_args_func_in const* in,
                                           struct openvpn_plugin_args_func_return*) {
    auto* plugin = reinterpret_cast<Plugin*>(in->handle);
    const char* type = in->type == OPENVPN_PLUGIN_UP ? "up" : in->type == OPENVPN_PLUGIN_DOWN ? "down" : nullptr;
    if (!plugin || !type) return OPENVPN_PLUGIN_FUNC_SUCCESS;
    try {
        auto message = hw::helper::openVPNEventMessage(
            type, [&](const std::string& name) { return lookup(in->envp, name); }, ::getpid());
        std::string error;
        if (message && !hw::helper::sendOpenVPNEvent(plugin->socketPath, *message, &error) && plugin->log)
            plugin->log(PLOG_ERR, "havenway", "cannot tell the helper of '%s': %s", type, error.c_str());
    } catch (...) {
        // Nothing may unwind into openvpn.
    }
    // As with the command: the tunnel goes on whatever the helper heard.
    return OPENVPN_PLUGIN_FUNC_SUCCESS;
}

HW_PLUGIN_ENTRY void openvpn_plugin_close_v1(openvpn_plugin_handle_t handle) {
    delete reinterpret_cast<Plugin*>(handle);
}
