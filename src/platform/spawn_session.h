#pragma once
#include <spawn.h>

namespace hw {

// Spawn attributes for a child in a session of its own, with no signal
// blocked and every disposition at its default: what it inherits from us
// (a blocked SIGTERM, an ignored SIGPIPE) must not change how it ends.
inline void setNewSessionSpawnAttributes(posix_spawnattr_t& attr) {
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
}

}  // namespace hw
