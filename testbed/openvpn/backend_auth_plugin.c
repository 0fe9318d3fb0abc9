/* The testbed openvpn server's account check, inside openvpn: each connect's user name
 * and password go to the long-lived checker (backend_checker.js) over its Unix socket,
 * whose one-byte answer ('1' accepts) decides. No program is started per connect, and
 * openvpn answers the client as soon as the check is done.
 *   plugin backend_auth_plugin.so CHECKER_SOCKET
 * start_server builds it with the system's C compiler. */
#include <openvpn/openvpn-plugin.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

struct checker {
    struct sockaddr_un address;
};

static const char *env(const char *name, const char *envp[]) {
    const size_t n = strlen(name);
    for (int i = 0; envp && envp[i]; ++i)
        if (strncmp(envp[i], name, n) == 0 && envp[i][n] == '=') return envp[i] + n + 1;
    return NULL;
}

static int write_all(int fd, const char *bytes, size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, bytes, size);
        if (n <= 0) return 0;
        bytes += n;
        size -= (size_t)n;
    }
    return 1;
}

OPENVPN_EXPORT openvpn_plugin_handle_t openvpn_plugin_open_v1(unsigned int *type_mask, const char *argv[],
                                                              const char *envp[]) {
    (void)envp;
    if (!argv[1] || strlen(argv[1]) >= sizeof(((struct sockaddr_un *)0)->sun_path)) return NULL;
    struct checker *c = calloc(1, sizeof *c);
    if (!c) return NULL;
    c->address.sun_family = AF_UNIX;
    strcpy(c->address.sun_path, argv[1]);
    *type_mask = OPENVPN_PLUGIN_MASK(OPENVPN_PLUGIN_AUTH_USER_PASS_VERIFY);
    return c;
}

OPENVPN_EXPORT int openvpn_plugin_func_v1(openvpn_plugin_handle_t handle, const int type, const char *argv[],
                                          const char *envp[]) {
    (void)argv;
    const struct checker *c = handle;
    const char *user = env("username", envp), *password = env("password", envp);
    if (type != OPENVPN_PLUGIN_AUTH_USER_PASS_VERIFY || !user || !password || strchr(user, '\n') ||
        strchr(password, '\n'))
        return OPENVPN_PLUGIN_FUNC_ERROR;
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return OPENVPN_PLUGIN_FUNC_ERROR;
    /* The backend answers in milliseconds; a stuck one must not hold the server. */
    const struct timeval bound = {10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound);
    char verdict = '0';
    if (connect(fd, (const struct sockaddr *)&c->address, sizeof c->address) == 0 &&
        write_all(fd, user, strlen(user)) && write_all(fd, "\n", 1) && write_all(fd, password, strlen(password)) &&
        write_all(fd, "\n", 1) && read(fd, &verdict, 1) != 1)
        verdict = '0';
    close(fd);
    return verdict == '1' ? OPENVPN_PLUGIN_FUNC_SUCCESS : OPENVPN_PLUGIN_FUNC_ERROR;
}

OPENVPN_EXPORT void openvpn_plugin_close_v1(openvpn_plugin_handle_t handle) { free(handle); }
