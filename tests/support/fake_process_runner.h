#pragma once
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

#include "platform/process_runner.h"

namespace hw::test {

// Records every request; answers from a script, else with exit code 0.
class FakeProcessRunner final : public ProcessRunner {
public:
    ProcessResult run(const ProcessRequest& request) override {
        std::lock_guard lock(mutex_);
        requests.push_back(request);
        if (responder) return responder(request);
        if (!scripted.empty()) {
            auto r = scripted.front();
            scripted.pop_front();
            return r;
        }
        ProcessResult ok;
        ok.started = true;
        ok.exitCode = 0;
        return ok;
    }
    std::vector<std::vector<std::string>> argvs() const {
        std::lock_guard lock(mutex_);
        std::vector<std::vector<std::string>> all;
        for (const auto& r : requests) all.push_back(r.argv);
        return all;
    }
    static ProcessResult exited(int code, std::string out = {}, std::string err = {}) {
        ProcessResult r;
        r.started = true;
        r.exitCode = code;
        r.out = std::move(out);
        r.err = std::move(err);
        return r;
    }
    std::vector<ProcessRequest> requests;
    std::deque<ProcessResult> scripted;
    std::function<ProcessResult(const ProcessRequest&)> responder;

private:
    mutable std::mutex mutex_;
};

}  // namespace hw::test
