#include "helper/esp_probe.h"

#include <chrono>

namespace hw::helper {

namespace {

ProcessResult ip(ProcessRunner& runner, std::vector<std::string> args) {
    ProcessRequest r;
    r.argv = {"ip", "xfrm", "state"};
    r.argv.insert(r.argv.end(), args.begin(), args.end());
    r.timeout = std::chrono::seconds(5);
    return runner.run(r);
}

const std::vector<std::string> kProbeId = {"src", "192.0.2.1", "dst", "192.0.2.2", "proto", "esp", "spi", "0x4877aa01"};

}  // namespace

void removeEspProbe(ProcessRunner& runner) {
    auto del = kProbeId;
    del.insert(del.begin(), "delete");
    ip(runner, del);
}

bool kernelSupportsEsp(ProcessRunner& runner, std::string* why) {
    auto add = kProbeId;
    add.insert(add.begin(), "add");
    for (const char* a : {"mode", "transport", "enc", "cbc(aes)", "0x000102030405060708090a0b0c0d0e0f", "auth",
                          "hmac(sha1)", "0x000102030405060708090a0b0c0d0e0f10111213"})
        add.push_back(a);
    auto result = ip(runner, add);
    // A probe left behind by an earlier run proves the same.
    bool leftOver = result.started && result.err.find("File exists") != std::string::npos;
    if (!result.ok() && !leftOver) {
        if (why) {
            std::string err = result.started ? result.err : result.error;
            while (!err.empty() && (err.back() == '\n' || err.back() == ' ')) err.pop_back();
            *why = err.substr(0, 200);
        }
        return false;
    }
    removeEspProbe(runner);
    return true;
}

}  // namespace hw::helper
