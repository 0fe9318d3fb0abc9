#include "platform/backend/parse_client.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <unordered_set>

#include "platform/log.h"

namespace hw {

namespace {

constexpr std::string_view kLog = "Parse";
// Bounds what a backend could make the client hold: 200 pages of 1,000.
constexpr int kMaxQueryPages = 200;

// Class and function names go into request paths: letters, digits and "_" only.
bool isPlainName(const std::string& s) {
    if (s.empty() || s.size() > 128 || std::isdigit(static_cast<unsigned char>(s[0]))) return false;
    for (char c : s) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
    }
    return true;
}

// A page's answer is bounded by what so many rows could be, however many the server sends.
std::int64_t maxPageBytes(int rows) {
    const std::int64_t bound = static_cast<std::int64_t>(std::max(rows, 1)) * ParseClient::kMaxBytesPerRow;
    return std::clamp<std::int64_t>(bound, 1 << 20, ParseClient::kMaxPageBytes);
}

std::string fileNameForPath(const std::string& name) {
    std::string out;
    for (char c : name) out += (std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_') ? c : '_';
    return out.empty() ? std::string("file") : out;
}

}  // namespace

ParseClient::ParseClient(ParseClientConfig config, HttpClient& http, MainQueue& queue, SecretStore& secrets,
                         SettingsStore& settings, SecretStoreQueue* secretsQueue)
    : core_(std::make_shared<ParseCore>(std::move(config), http, queue)),
      secrets_(secrets),
      settings_(settings),
      secretsQueue_(secretsQueue) {
    restoreCurrentUser();
    resumeRevocations();
}

ParseClient::~ParseClient() { alive_.reset(); }

bool ParseClient::enableLocalDatastore() {
    if (core_->datastore) return true;
    core_->datastore = LocalDatastore::open(core_->config.datastorePath);
    return core_->datastore != nullptr;
}

void ParseClient::setDefaultACL(JSON acl, bool withAccessForCurrentUser) {
    defaultACL_ = std::move(acl);
    aclForCurrentUser_ = withAccessForCurrentUser;
}

// ---- cloud functions ----

void ParseClient::callFunction(const std::string& name, const JSON& params, ParseReply done,
                               std::optional<double> timeoutMs) {
    if (!isPlainName(name) || params.type() != JSON::Type::dictionary) {
        core_->queue.post([done] { done(JSON(), localError(kParseErrorScriptFailed, "invalid function name or parameters")); });
        return;
    }
    log::info(kLog, "cloud function " + name);
    std::weak_ptr<bool> alive = alive_;
    core_->call("POST", "/functions/" + name, params, [this, alive, name, done](JSON reply, OptionalParseError error) {
        if (error) {
            done(JSON(), std::move(error));
            return;
        }
        auto result = reply["result"];
        if (!result.exists()) {
            done(JSON(), localError(kParseErrorInvalidJSON, "the function's answer has no result"));
            return;
        }
        auto token = result["sessionToken"].string();
        if (name != "authenticateUser" || !token || token->empty() || alive.expired()) {
            done(std::move(result), std::nullopt);
            return;
        }
        become(*token, [result, done](std::optional<ParseUser>, OptionalParseError becomeError) {
            done(becomeError ? JSON() : result, std::move(becomeError));
        });
    }, std::nullopt, timeoutMs);
}

// ---- remote configuration ----

void ParseClient::dropConnections() { core_->http.dropConnections(); }

void ParseClient::fetchConfig(std::function<void(ParseConfig, OptionalParseError)> done) {
    std::weak_ptr<bool> alive = alive_;
    core_->call("GET", "/config", std::nullopt, [this, alive, done](JSON reply, OptionalParseError error) {
        if (alive.expired()) {
            done(ParseConfig{}, error ? error : localError(kParseErrorOtherCause, "the client is gone"));
            return;
        }
        if (!error && reply["params"].type() != JSON::Type::dictionary) {
            error = localError(kParseErrorInvalidJSON, "the configuration answer has no parameters");
        }
        if (error) {
            done(currentConfig(), std::move(error));
            return;
        }
        config_ = ParseConfig{reply["params"]};
        if (core_->datastore) core_->datastore->putValue(kConfigKey, config_->params.rawString().value_or("{}"));
        done(*config_, std::nullopt);
    }, std::nullopt, std::nullopt, kMaxConfigBytes);
}

ParseConfig ParseClient::currentConfig() const {
    if (config_) return *config_;
    if (core_->datastore) {
        if (auto stored = core_->datastore->value(kConfigKey)) {
            auto params = JSON::parse(*stored);
            if (params.type() == JSON::Type::dictionary) config_ = ParseConfig{params};
        }
    }
    return config_.value_or(ParseConfig{JSON(std::map<std::string, JSON>{})});
}

// ---- objects, files, queries ----

ParseFilePtr ParseClient::fileWithData(const std::string& name, Bytes data, const std::string& contentType) {
    return std::make_shared<ParseFile>(core_, fileNameForPath(name), "", std::move(data), contentType);
}

ParseFilePtr ParseClient::fileFromJSON(const JSON& value) {
    if (value["__type"].string() != std::optional<std::string>("File")) return nullptr;
    auto url = value["url"].string();
    auto name = value["name"].string();
    if (!url || url->empty() || !name) return nullptr;
    return std::make_shared<ParseFile>(core_, *name, *url, std::nullopt, "");
}

ParseFilePtr ParseClient::fileWithPath(const std::string& name, const std::string& path, ParseError* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (error) *error = localError(kParseErrorOtherCause, "cannot read " + path);
        return nullptr;
    }
    Bytes data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return fileWithData(name, std::move(data));
}

void ParseClient::save(ParseObject object, std::function<void(ParseObject, OptionalParseError)> done) {
    if (!done) done = [](ParseObject, OptionalParseError) {};
    if (!isPlainName(object.className())) {
        core_->queue.post([done, object] { done(object, localError(kParseErrorOtherCause, "invalid class name")); });
        return;
    }
    if (defaultACL_ && object.objectId().empty() && !object.has("ACL")) {
        auto acl = defaultACL_->dictionaryValue();
        if (aclForCurrentUser_ && currentUser_) {
            acl[currentUser_->objectId] = JSON::dictionaryLiteral({{"read", true}, {"write", true}});
        }
        object.set("ACL", JSON(acl));
    }
    saveObject(std::make_shared<ParseObject>(std::move(object)), std::move(done));
}

void ParseClient::saveObject(std::shared_ptr<ParseObject> object,
                             std::function<void(ParseObject, OptionalParseError)> done) {
    auto pending = object->pendingFiles();
    if (!pending.empty()) {
        auto file = pending.front();
        HttpRequest request;
        request.method = "POST";
        request.url = core_->url("/files/" + file->name());
        request.timeoutMs = core_->config.requestTimeoutMs;
        request.headers = core_->headers();
        request.headers.emplace_back("Content-Type",
                                     file->contentType().empty() ? "application/octet-stream" : file->contentType());
        auto data = file->getData();
        request.body.assign(data ? data->begin() : Bytes::const_iterator(), data ? data->end() : Bytes::const_iterator());
        std::weak_ptr<bool> alive = alive_;
        core_->send(std::move(request), [this, alive, object, file, done](HttpResponse r) {
            auto reply = JSON::parse(r.body);
            auto name = reply["name"].string();
            auto url = reply["url"].string();
            if (r.error || r.status < 200 || r.status >= 300 || !name || !url) {
                auto error = ParseCore::errorFrom(r);
                log::warning(kLog, "file upload failed with code " + std::to_string(error.code));
                done(*object, std::move(error));
                return;
            }
            file->markUploaded(*name, *url);
            if (alive.expired()) {
                done(*object, localError(kParseErrorOtherCause, "the client is gone"));
                return;
            }
            saveObject(object, done);
        });
        return;
    }
    const auto& cls = object->className();
    const bool create = object->objectId().empty();
    const auto path = "/classes/" + cls + (create ? "" : "/" + object->objectId());
    core_->call(create ? "POST" : "PUT", path, object->bodyJSON(), [object, done](JSON reply, OptionalParseError error) {
        if (!error) object->applySaveResult(reply);
        done(*object, std::move(error));
    });
}

void ParseClient::find(const ParseQuery& query, std::function<void(std::vector<ParseObject>, OptionalParseError)> done) {
    findPage(query, {}, [done = std::move(done)](Page page, std::optional<long long>, OptionalParseError error) {
        done(std::move(page.objects), std::move(error));
    });
}

void ParseClient::findPage(const ParseQuery& query, PageWork work, PageBlock done) {
    if (!isPlainName(query.className)) {
        core_->queue.post([done] { done({}, std::nullopt, localError(kParseErrorOtherCause, "invalid class name")); });
        return;
    }
    std::weak_ptr<ParseCore> core = core_;
    const auto cls = query.className;
    auto block = std::make_shared<PageBlock>(std::move(done));
    core_->callDecoding(
        "GET", "/classes/" + cls + "?" + query.queryString(),
        [core, cls, block, work = std::move(work)](JSON reply, OptionalParseError error) -> Task {
            // Called once: the block moves on into the task, so what its caller
            // holds is let go of on the main thread, never the decoding one.
            auto done = std::move(*block);
            if (error) return [done, error] { done({}, std::nullopt, error); };
            auto results = reply["results"].array();
            if (!results) {
                return [done] { done({}, std::nullopt, localError(kParseErrorInvalidJSON, "the query answer has no results")); };
            }
            auto page = std::make_shared<Page>();
            page->objects.reserve(results->size());
            for (const auto& item : *results) {
                if (item.type() == JSON::Type::dictionary) page->objects.push_back(ParseObject::fromJSON(cls, item, core));
            }
            if (work) page->made = work(page->objects);
            const auto count = reply["count"].double_();
            const auto total = count && *count >= 0 && *count < 1e12 ? std::optional<long long>(static_cast<long long>(*count))
                                                                     : std::nullopt;
            return [done, page, total] { done(std::move(*page), total, std::nullopt); };
        },
        maxPageBytes(query.limit));
}

struct ParseClient::Paging {
    ParseQuery query;
    PageWork work;
    std::function<void(std::vector<ParseObject>, std::vector<PageMade>, OptionalParseError)> done;
    std::vector<ParseObject> found;
    std::vector<PageMade> made;
    // Thousands of ids, looked up on the main thread as each page is taken.
    std::unordered_set<std::string> ids;
    int pages = 0;

    // Takes a page's objects not seen before; how many there were.
    std::size_t absorb(Page& page) {
        std::size_t fresh = 0;
        for (auto& object : page.objects) {
            if (!object.objectId().empty() && !ids.insert(object.objectId()).second) continue;
            found.push_back(std::move(object));
            ++fresh;
        }
        if (work) made.push_back(std::move(page.made));
        ++pages;
        query.skip += static_cast<int>(page.objects.size());
        return fresh;
    }
    void finish() { done(std::move(found), std::move(made), std::nullopt); }
    void fail(ParseError error) { done({}, {}, std::move(error)); }
    void stopTooMany() {
        log::warning(kLog, "query of " + query.className + " stopped after " + std::to_string(pages) + " pages");
        fail(localError(kParseErrorOtherCause, "too many objects"));
    }
};

void ParseClient::findAll(ParseQuery query, std::function<void(std::vector<ParseObject>, OptionalParseError)> done) {
    findAll(std::move(query), {}, [done = std::move(done)](std::vector<ParseObject> objects, std::vector<PageMade>,
                                                           OptionalParseError error) {
        done(std::move(objects), std::move(error));
    });
}

void ParseClient::findAll(ParseQuery query, PageWork work,
                          std::function<void(std::vector<ParseObject>, std::vector<PageMade>, OptionalParseError)> done) {
    query.skip = 0;
    query.count = false;
    auto paging = std::make_shared<Paging>(Paging{std::move(query), std::move(work), std::move(done), {}, {}, {}, 0});
    // The count and the first page side by side: once the count is known,
    // the other pages are asked at once, whether or not the first is in.
    struct Pages {
        std::vector<std::optional<Page>> slots;
        std::size_t answered = 0;
        bool counted = false;
        bool ended = false;
    };
    auto pages = std::make_shared<Pages>();
    pages->slots.resize(1);
    std::weak_ptr<bool> alive = alive_;
    const int limit = paging->query.limit;
    // Every page in, in order, as one after another would have found them; a
    // short page among them (objects gone meanwhile) ends nothing early.
    auto settle = [this, alive, paging, pages, limit] {
        if (pages->ended) return;
        const auto& first = pages->slots.front();
        const bool firstShort = first && static_cast<int>(first->objects.size()) < limit;
        if (!firstShort && (!pages->counted || pages->answered < pages->slots.size())) return;
        pages->ended = true;
        if (firstShort) pages->slots.resize(1);
        paging->found.reserve(pages->slots.size() * static_cast<std::size_t>(limit));
        paging->ids.reserve(pages->slots.size() * static_cast<std::size_t>(limit));
        for (auto& slot : pages->slots) paging->absorb(*slot);
        if (static_cast<int>(pages->slots.back()->objects.size()) < limit) {
            paging->finish();
            return;
        }
        if (paging->pages >= kMaxQueryPages) {
            paging->stopTooMany();
            return;
        }
        // Objects made meanwhile (or no count): on, one page at a time.
        if (!alive.expired()) findNextPage(paging);
    };
    auto page = [paging, pages, settle](std::size_t i) {
        return [paging, pages, settle, i](Page found, std::optional<long long>, OptionalParseError error) {
            if (pages->ended) return;
            if (error) {
                pages->ended = true;
                paging->fail(std::move(*error));
                return;
            }
            pages->slots[i] = std::move(found);
            ++pages->answered;
            settle();
        };
    };
    // The count is asked first: a server that answers in turn would
    // otherwise hold it behind the first page, and every other page with it.
    ParseQuery counting = paging->query;
    counting.limit = 0;
    counting.count = true;
    counting.order.clear();
    findPage(counting, {}, [this, alive, paging, pages, settle, page, limit](Page, std::optional<long long> total,
                                                                             OptionalParseError) {
        if (pages->ended || alive.expired()) return;
        pages->counted = true;
        // Without a count the pages go one after another from the first.
        if (total) {
            // One page more than the count fills: it shows that nothing
            // follows (or that objects were made meanwhile).
            const long long wanted = std::min<long long>(*total / limit + 1, kMaxQueryPages);
            for (long long i = 1; i < wanted; ++i) {
                pages->slots.emplace_back();
                ParseQuery next = paging->query;
                next.skip = static_cast<int>(i) * limit;
                findPage(next, paging->work, page(pages->slots.size() - 1));
            }
        }
        settle();
    });
    findPage(paging->query, paging->work, page(0));
}

void ParseClient::findNextPage(std::shared_ptr<Paging> paging) {
    std::weak_ptr<bool> alive = alive_;
    findPage(paging->query, paging->work, [this, alive, paging](Page page, std::optional<long long>, OptionalParseError error) {
        if (takePage(*paging, std::move(page), std::move(error)) && !alive.expired()) findNextPage(paging);
    });
}

bool ParseClient::takePage(Paging& paging, Page page, OptionalParseError error) {
    if (error) {
        paging.fail(std::move(*error));
        return false;
    }
    const int size = static_cast<int>(page.objects.size());
    // A short page is the last; one with nothing new means the server
    // ignores the skip, and asking on would never end.
    const bool more = paging.absorb(page) > 0 && size >= paging.query.limit;
    if (more && paging.pages >= kMaxQueryPages) {
        paging.stopTooMany();
        return false;
    }
    if (!more) paging.finish();
    return more;
}

void ParseClient::findInLocalDatastore(const ParseQuery& query, const std::string& pin,
                                       std::function<void(std::vector<ParseObject>, OptionalParseError)> done) {
    if (!core_->datastore) {
        core_->queue.post([done] { done({}, localError(kParseErrorCacheMiss, "the local datastore is not enabled")); });
        return;
    }
    auto read = [core = core_, query, pin, done = std::move(done)] {
        std::vector<ParseObject> objects;
        for (const auto& stored : core->datastore->pinned(query.className, pin)) {
            auto object = ParseObject::fromJSON(stored.className, JSON::parse(stored.json), core);
            if (query.matches(object)) objects.push_back(std::move(object));
            if (static_cast<int>(objects.size()) >= query.limit) break;
        }
        core->queue.post([done, objects = std::move(objects)]() mutable { done(std::move(objects), std::nullopt); });
    };
    if (datastoreQueue_) datastoreQueue_->async(std::move(read));
    else read();
}

bool ParseClient::pinAll(const std::string& pin, std::vector<ParseObject> objects, bool replace) {
    if (!core_->datastore) return false;
    auto write = [core = core_, pin, objects = std::move(objects), replace] {
        std::vector<LocalDatastore::StoredObject> stored;
        for (const auto& o : objects) {
            if (o.objectId().empty()) continue;  // only saved objects can be found again
            stored.push_back({o.className(), o.objectId(), o.toJSON().rawString().value_or("{}")});
        }
        const bool kept = replace ? core->datastore->replacePin(pin, stored) : core->datastore->addToPin(pin, stored);
        if (!kept) log::warning(kLog, "the datastore could not keep the objects of " + pin);
        return kept;
    };
    if (!datastoreQueue_) return write();
    datastoreQueue_->async(std::move(write));
    return true;
}

bool ParseClient::unpinAll(const std::string& pin) {
    if (!core_->datastore) return false;
    // After the writes queued before it.
    if (!datastoreQueue_) return core_->datastore->unpin(pin);
    datastoreQueue_->async([core = core_, pin] {
        if (!core->datastore->unpin(pin)) log::warning(kLog, "the datastore could not drop " + pin);
    });
    return true;
}

// ---- analytics ----

void ParseClient::trackAppOpened(std::function<void(OptionalParseError)> done) {
    core_->call("POST", "/events/AppOpened", JSON::dictionaryLiteral({}), [done](JSON, OptionalParseError error) {
        if (done) done(std::move(error));
    });
}

}  // namespace hw
