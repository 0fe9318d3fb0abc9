#pragma once
#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace hw::helper {

// Tunnel processes end with the helper that started them: one left behind
// would carry traffic that the application, told the helper is gone, says
// is not there. The kernel sends a child its parent-death signal when the
// thread that made it ends, not the process, so every such child is made on
// one thread that lasts as long as the helper.

// Runs make() on that thread, the caller waiting, and answers what it
// answered. make() clones there itself; its child calls endWithParent().
pid_t onLifelongThread(const std::function<pid_t()>& make);

// In the child, before its exec (system calls only): SIGTERM once the
// helper ends. False when the helper has already gone.
bool endWithParent(pid_t parent);

struct TiedProgram {
    std::string path;
    std::vector<std::string> argv;
    std::vector<std::string> environment;
    int output = -1;  // its stdout and stderr; stdin is /dev/null
    // A session, not only a group, of its own: pppd, which opens ttys, must
    // get none of ours as its controlling one.
    bool ownSession = false;
};

// Starts the program in a process group (or session) of its own, with default signal
// handling, nothing of ours open and tied to the helper's life. The pid, or
// -1 with *error set to the errno of what failed.
pid_t spawnTied(const TiedProgram& program, int* error);

}  // namespace hw::helper
