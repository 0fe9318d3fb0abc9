#pragma once
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "json/json.h"
#include "platform/backend/parse_file.h"
#include "platform/settings_store.h"

namespace hw {

// One backend object of a class: fields by key, with pointers and files.
class ParseObject {
public:
    explicit ParseObject(std::string className = {}) : className_(std::move(className)) {}

    const std::string& className() const { return className_; }
    const std::string& objectId() const { return objectId_; }
    void setObjectId(std::string id) { objectId_ = std::move(id); }

    // The field's JSON as the server holds it (pointers and files as their JSON forms);
    // an erroneous null when absent.
    JSON get(const std::string& key) const;
    // A plain field as stored, without a copy; nullptr when absent or a file.
    const JSON* field(const std::string& key) const;
    bool has(const std::string& key) const { return fields_.count(key) > 0; }
    void set(const std::string& key, JSON value);
    void setFile(const std::string& key, ParseFilePtr file);
    void setPointer(const std::string& key, const std::string& className, const std::string& objectId);
    void remove(const std::string& key);

    // The file in a field, or nothing when the field holds none.
    ParseFilePtr file(const std::string& key) const;
    // The objectId of a pointer field, or nothing.
    std::optional<std::string> pointerId(const std::string& key) const;
    std::optional<std::string> createdAt() const { return get("createdAt").string(); }
    std::optional<std::string> updatedAt() const { return get("updatedAt").string(); }

    // Files set on this object that are not uploaded yet.
    std::vector<ParseFilePtr> pendingFiles() const;
    // The fields as the REST body of a save.
    JSON bodyJSON() const;
    // The whole object (className, objectId and fields) as stored in the local datastore.
    JSON toJSON() const;
    // From a REST result or a stored object; files are bound to the client's core.
    static ParseObject fromJSON(const std::string& className, const JSON& json, std::weak_ptr<ParseCore> core);
    // Takes objectId, createdAt and updatedAt from a save's answer.
    void applySaveResult(const JSON& result);

private:
    std::string className_;
    std::string objectId_;
    std::map<std::string, JSON> fields_;
    std::map<std::string, ParseFilePtr> files_;
    std::weak_ptr<ParseCore> core_;
};

// A query of one class: equality constraints, included pointers, order and limit.
struct ParseQuery {
    explicit ParseQuery(std::string cls) : className(std::move(cls)) {}
    ParseQuery& whereEqualTo(const std::string& key, JSON value) {
        equalTo[key] = std::move(value);
        return *this;
    }
    ParseQuery& wherePointerTo(const std::string& key, const std::string& cls, const std::string& objectId);
    ParseQuery& includeKey(std::string key) {
        include.push_back(std::move(key));
        return *this;
    }
    ParseQuery& orderByAscending(std::string key) {
        order = std::move(key);
        return *this;
    }
    ParseQuery& orderByDescending(std::string key) {
        order = "-" + key;
        return *this;
    }

    // Whether a stored object meets the equality constraints (used offline).
    bool matches(const ParseObject& object) const;
    // The query string of the REST find ("where=...&limit=...").
    std::string queryString() const;

    std::string className;
    std::map<std::string, JSON> equalTo;
    std::vector<std::string> include;
    std::string order;
    int limit = 100;
    int skip = 0;
    bool count = false;  // the answer also says how many match
};

JSON parsePointer(const std::string& className, const std::string& objectId);
// A backend date: {"__type": "Date", "iso": "..."} or the ISO text itself
// ("2026-11-01T00:00:00.000Z", UTC); nothing for anything else.
std::optional<Date> parseDate(const JSON& value);

}  // namespace hw
