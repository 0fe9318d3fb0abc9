#include "platform/backend/parse_object.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "platform/backend/parse_core.h"
#include "platform/http.h"

namespace hw {

namespace {

bool isTyped(const JSON& v, const char* type) { return v["__type"].string() == std::string(type); }

constexpr const char* kReserved[] = {"objectId", "createdAt", "updatedAt", "className"};

}  // namespace

JSON parsePointer(const std::string& className, const std::string& objectId) {
    return JSON::dictionaryLiteral({{"__type", "Pointer"}, {"className", className}, {"objectId", objectId}});
}

JSON ParseObject::get(const std::string& key) const {
    if (auto f = files_.find(key); f != files_.end()) return f->second->toJSON();
    if (key == "objectId" && !objectId_.empty()) return JSON(objectId_);
    auto it = fields_.find(key);
    if (it == fields_.end()) return JSON()["missing"];
    return it->second;
}

const JSON* ParseObject::field(const std::string& key) const {
    if (files_.count(key)) return nullptr;
    auto it = fields_.find(key);
    return it == fields_.end() ? nullptr : &it->second;
}

void ParseObject::set(const std::string& key, JSON value) {
    files_.erase(key);
    fields_[key] = std::move(value);
}

void ParseObject::setFile(const std::string& key, ParseFilePtr file) {
    fields_.erase(key);
    if (file) files_[key] = std::move(file);
}

void ParseObject::setPointer(const std::string& key, const std::string& className, const std::string& objectId) {
    set(key, parsePointer(className, objectId));
}

void ParseObject::remove(const std::string& key) {
    fields_.erase(key);
    files_.erase(key);
}

ParseFilePtr ParseObject::file(const std::string& key) const {
    if (auto f = files_.find(key); f != files_.end()) return f->second;
    auto it = fields_.find(key);
    if (it == fields_.end() || !isTyped(it->second, "File")) return nullptr;
    auto url = it->second["url"].string();
    auto name = it->second["name"].string();
    if (!url || !name) return nullptr;
    return std::make_shared<ParseFile>(core_, *name, *url, std::nullopt, "");
}

std::optional<std::string> ParseObject::pointerId(const std::string& key) const {
    auto v = get(key);
    if (!isTyped(v, "Pointer") && !isTyped(v, "Object")) return std::nullopt;
    return v["objectId"].string();
}

std::vector<ParseFilePtr> ParseObject::pendingFiles() const {
    std::vector<ParseFilePtr> out;
    for (const auto& [key, file] : files_) {
        if (!file->isUploaded()) out.push_back(file);
    }
    return out;
}

JSON ParseObject::bodyJSON() const {
    std::map<std::string, JSON> body;
    for (const auto& [key, value] : fields_) {
        if (std::find(std::begin(kReserved), std::end(kReserved), key) == std::end(kReserved)) body[key] = value;
    }
    for (const auto& [key, file] : files_) body[key] = file->toJSON();
    return JSON(body);
}

JSON ParseObject::toJSON() const {
    std::map<std::string, JSON> all(fields_.begin(), fields_.end());
    for (const auto& [key, file] : files_) all[key] = file->toJSON();
    all["className"] = JSON(className_);
    if (!objectId_.empty()) all["objectId"] = JSON(objectId_);
    return JSON(all);
}

ParseObject ParseObject::fromJSON(const std::string& className, const JSON& json, std::weak_ptr<ParseCore> core) {
    ParseObject o(className);
    o.core_ = std::move(core);
    for (const auto& [key, value] : json.dictionaryValue()) {
        if (key == "className") continue;
        if (key == "objectId") {
            o.objectId_ = value.stringValue();
            continue;
        }
        o.fields_[key] = value;
    }
    return o;
}

void ParseObject::applySaveResult(const JSON& result) {
    if (auto id = result["objectId"].string()) objectId_ = *id;
    for (const char* key : {"createdAt", "updatedAt"}) {
        if (auto v = result[key].string()) fields_[key] = JSON(*v);
    }
    if (!fields_.count("updatedAt") && fields_.count("createdAt")) fields_["updatedAt"] = fields_["createdAt"];
}

std::optional<Date> parseDate(const JSON& value) {
    auto text = isTyped(value, "Date") ? value["iso"].string() : value.string();
    if (!text) return std::nullopt;
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, consumed = 0;
    double sec = 0;
    if (std::sscanf(text->c_str(), "%4d-%2d-%2dT%2d:%2d:%lf%n", &y, &mo, &d, &h, &mi, &sec, &consumed) != 6) return std::nullopt;
    if (text->substr(static_cast<std::size_t>(consumed)) != "Z") return std::nullopt;
    if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || sec < 0 || sec >= 61) return std::nullopt;
    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    return Date{static_cast<double>(::timegm(&tm)) + sec};
}

ParseQuery& ParseQuery::wherePointerTo(const std::string& key, const std::string& cls, const std::string& objectId) {
    return whereEqualTo(key, parsePointer(cls, objectId));
}

bool ParseQuery::matches(const ParseObject& object) const {
    for (const auto& [key, wanted] : equalTo) {
        const auto have = object.get(key);
        if (isTyped(wanted, "Pointer")) {
            if (object.pointerId(key) != wanted["objectId"].string()) return false;
        } else if (!have.exists() || !(have == wanted)) {
            return false;
        }
    }
    return true;
}

std::string ParseQuery::queryString() const {
    std::string q;
    if (!equalTo.empty()) q += "where=" + percentEncode(JSON(equalTo).rawString().value_or("{}"));
    auto add = [&q](const std::string& part) { q += (q.empty() ? "" : "&") + part; };
    if (!include.empty()) {
        std::string keys;
        for (const auto& k : include) keys += (keys.empty() ? "" : ",") + k;
        add("include=" + percentEncode(keys));
    }
    if (!order.empty()) add("order=" + percentEncode(order));
    add("limit=" + std::to_string(limit));
    if (skip > 0) add("skip=" + std::to_string(skip));
    if (count) add("count=1");
    return q;
}

}  // namespace hw
