#include "platform/backend/parse_file.h"

#include "platform/backend/parse_core.h"

namespace hw {

ParseFile::ParseFile(std::weak_ptr<ParseCore> core, std::string name, std::string url, std::optional<Bytes> data,
                     std::string contentType)
    : core_(std::move(core)),
      name_(std::move(name)),
      url_(std::move(url)),
      data_(std::move(data)),
      contentType_(std::move(contentType)) {}

std::string ParseFile::name() const {
    std::lock_guard lock(mutex_);
    return name_;
}

std::string ParseFile::url() const {
    std::lock_guard lock(mutex_);
    return url_;
}

bool ParseFile::isDataAvailable() const {
    std::lock_guard lock(mutex_);
    if (data_) return true;
    auto core = core_.lock();
    return core && core->datastore && !url_.empty() && core->datastore->hasFile(url_);
}

std::optional<Bytes> ParseFile::getData(ParseError* error) const {
    std::unique_lock lock(mutex_);
    if (data_) return data_;
    const auto url = url_;
    lock.unlock();
    auto core = core_.lock();
    if (core && core->datastore && !url.empty()) {
        if (auto cached = core->datastore->file(url)) return cached;
    }
    if (error) {
        error->code = kParseErrorCacheMiss;
        error->message = "the file's data is not in the local cache";
        error->payload = JSON();
    }
    return std::nullopt;
}

void ParseFile::getDataInBackground(DataReply reply) {
    auto core = core_.lock();
    if (!core) {
        // No client and so no queue left: answer here rather than never.
        ParseError e;
        e.code = kParseErrorOtherCause;
        e.message = "the backend client is gone";
        reply(getData(), getData() ? OptionalParseError() : OptionalParseError(e));
        return;
    }
    if (auto cached = getData()) {
        core->queue.post([reply = std::move(reply), data = std::move(*cached)]() mutable { reply(std::move(data), std::nullopt); });
        return;
    }
    const auto where = url();
    if (where.empty()) {
        ParseError e;
        e.code = kParseErrorCacheMiss;
        e.message = "the file has neither data nor an address";
        core->queue.post([reply = std::move(reply), e] { reply(std::nullopt, e); });
        return;
    }
    HttpRequest request;
    request.url = where;
    request.timeoutMs = core->config.requestTimeoutMs;
    std::weak_ptr<ParseCore> weakCore = core;
    std::weak_ptr<ParseFile> self = weak_from_this();
    core->send(std::move(request), [self, weakCore, where, reply = std::move(reply)](HttpResponse r) {
        if (r.error || r.status != 200) {
            reply(std::nullopt, ParseCore::errorFrom(r));
            return;
        }
        Bytes data(r.body.begin(), r.body.end());
        if (auto c = weakCore.lock(); c && c->datastore) c->datastore->putFile(where, data);
        if (auto file = self.lock()) {
            std::lock_guard lock(file->mutex_);
            if (file->url_ == where) file->data_ = data;
        }
        reply(std::move(data), std::nullopt);
    });
}

JSON ParseFile::toJSON() const {
    std::lock_guard lock(mutex_);
    return JSON::dictionaryLiteral({{"__type", "File"}, {"name", name_}, {"url", url_}});
}

void ParseFile::markUploaded(std::string name, std::string url) {
    std::lock_guard lock(mutex_);
    name_ = std::move(name);
    url_ = std::move(url);
    auto core = core_.lock();
    if (core && core->datastore && data_) core->datastore->putFile(url_, *data_);
}

}  // namespace hw
