#pragma once
#include <memory>

#include "platform/file_download.h"
#include "platform/main_queue.h"

namespace hw {

// FileDownload on QtNetwork, on a thread of its own so that a large archive
// never holds up the windows. Blocks go straight to a 0600 temp file beside
// the destination, renamed over it only when the transfer succeeded; a
// status outside 2xx is a failure. Events are posted to the main queue.
// HAVENWAY_TEST_CA, when set at construction, names a PEM file of extra trusted CAs.
class QtFileDownload final : public FileDownload {
public:
    explicit QtFileDownload(MainQueue& queue);
    ~QtFileDownload() override;
    QtFileDownload(const QtFileDownload&) = delete;
    QtFileDownload& operator=(const QtFileDownload&) = delete;

    std::unique_ptr<FileDownloadTask> start(const FileDownloadRequest& request, FileDownloadEvents events) override;

    struct Engine;
    struct Transfer;

private:
    MainQueue& queue_;
    std::shared_ptr<Engine> engine_;
};

}  // namespace hw
