// Built twice and handed to a real openvpn: when openvpn loads it, it leaves a
// file named after its build in $HW_LOAD_MARKS, before openvpn looks into it.
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

__attribute__((constructor)) static void markLoaded() {
    const char* dir = getenv("HW_LOAD_MARKS");
    if (!dir) return;
    char path[4096];
    if (snprintf(path, sizeof path, "%s/%s", dir, HW_MARK_NAME) >= static_cast<int>(sizeof path)) return;
    int fd = open(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0) close(fd);
}
