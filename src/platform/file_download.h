#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace hw {

struct FileDownloadRequest {
    std::string url;
    // Written only when the whole transfer succeeded; a partial file never shows here.
    std::string destination;
    double timeoutSeconds = 15.0;
};

struct FileDownloadResponse {
    int status = 0;
    // -1 when the server did not say.
    std::int64_t expectedLength = -1;
    // Names in lower case.
    std::map<std::string, std::string> headers;
};

// What a transfer reports. Every event arrives on the main queue, in order;
// finished or failed ends it, and nothing follows a cancel.
struct FileDownloadEvents {
    std::function<void(const FileDownloadResponse&)> response;
    std::function<void(std::int64_t length)> block;
    std::function<void()> finished;
    std::function<void(const std::string& reason)> failed;
};

// A running transfer. Cancelling (or destroying) it stops the transfer and
// removes what was written so far.
class FileDownloadTask {
public:
    virtual ~FileDownloadTask() = default;
    virtual void cancel() = 0;
};

// Downloads one address to a file, undecoded and without any cache.
class FileDownload {
public:
    virtual ~FileDownload() = default;
    virtual std::unique_ptr<FileDownloadTask> start(const FileDownloadRequest& request, FileDownloadEvents events) = 0;
};

}  // namespace hw
