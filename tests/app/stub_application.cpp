// Stands in for the application in the install script's tests, as a real
// executable of this machine. Started plainly, it runs the script beside it
// (bin/havenway.sh) with its arguments, so each sample version notes how it
// was started. Started as "havenway --install SCRIPT ARCHIVE", it is the
// application quitting into an update: it starts the script on its own
// folder with the four variables the application hands on, and quits once
// the script waits for it to go (and so has read its environment).
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

// Whether a child of pid runs `sleep`: the script's wait for us.
bool waitsForUs(pid_t pid) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream in(entry.path() / "stat");
        std::string stat;
        if (!std::getline(in, stat)) continue;
        const auto open = stat.find('('), close = stat.rfind(')');
        if (open == std::string::npos || close == std::string::npos || close + 4 >= stat.size()) continue;
        const std::string comm = stat.substr(open + 1, close - open - 1);
        const long parent = std::strtol(stat.c_str() + close + 4, nullptr, 10);
        if (parent == pid && comm == "sleep") return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    std::error_code ec;
    const std::string self = std::filesystem::read_symlink("/proc/self/exe", ec).string();
    if (ec) return 127;
    if (argc == 4 && std::string(argv[1]) == "--install") {
        const std::string bundle = std::filesystem::path(self).parent_path().parent_path().string();
        std::vector<std::string> words = {"/bin/sh", argv[2], argv[3], bundle};
        std::vector<char*> args;
        for (auto& w : words) args.push_back(w.data());
        args.push_back(nullptr);
        std::string path = "PATH=/usr/bin:/bin";
        char* env[] = {path.data(), nullptr};
        pid_t pid = 0;
        if (::posix_spawn(&pid, "/bin/sh", nullptr, nullptr, args.data(), env) != 0) return 126;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!waitsForUs(pid) && std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (::waitpid(pid, &status, WNOHANG) == pid) return 1;  // it ended without waiting
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return 0;
    }
    std::string script = self + ".sh";
    std::vector<char*> args{script.data()};
    for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
    args.push_back(nullptr);
    ::execv(script.c_str(), args.data());
    return 127;
}
