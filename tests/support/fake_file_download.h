#pragma once
// A FileDownload that records each transfer; the test plays the server's part.
#include <memory>
#include <string>
#include <vector>

#include "platform/file_download.h"

namespace hw::test {

class FakeFileDownload final : public FileDownload {
public:
    struct Transfer {
        FileDownloadRequest request;
        FileDownloadEvents events;
        bool cancelled = false;
        bool ended = false;

        void respond(int status, std::int64_t length, std::map<std::string, std::string> headers = {}) {
            if (!cancelled) events.response({status, length, std::move(headers)});
        }
        void block(std::int64_t length) {
            if (!cancelled) events.block(length);
        }
        void finish() {
            if (cancelled) return;
            ended = true;
            events.finished();
        }
        void fail(const std::string& reason = "unreachable") {
            if (cancelled) return;
            ended = true;
            events.failed(reason);
        }
    };

    std::unique_ptr<FileDownloadTask> start(const FileDownloadRequest& request, FileDownloadEvents events) override {
        auto t = std::make_shared<Transfer>(Transfer{request, std::move(events)});
        transfers.push_back(t);
        return std::make_unique<Task>(t);
    }

    Transfer& last() { return *transfers.back(); }
    std::size_t running() const {
        std::size_t n = 0;
        for (const auto& t : transfers) n += !t->cancelled && !t->ended;
        return n;
    }

    std::vector<std::shared_ptr<Transfer>> transfers;

private:
    struct Task final : FileDownloadTask {
        explicit Task(std::shared_ptr<Transfer> t) : t(std::move(t)) {}
        ~Task() override { cancel(); }
        void cancel() override {
            if (!t->ended) t->cancelled = true;
        }
        std::shared_ptr<Transfer> t;
    };
};

}  // namespace hw::test
