// Serialisation: the strict serialiser behind rawData, and the two rawString
// renderers.
#include <atomic>
#include <cmath>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "json/json.h"
#include "json/json_log.h"

namespace hw {

namespace {

std::atomic<JSONLogSink> g_logSink{nullptr};

}  // namespace

void setJSONLogSink(JSONLogSink sink) { g_logSink.store(sink); }

void jsonLog(std::string_view line) {
  if (JSONLogSink sink = g_logSink.load()) return sink(line);
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

namespace {

void appendEscaped(std::string& out, std::string_view text) {
  static constexpr char hex[] = "0123456789abcdef";
  for (char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          out += "\\u00";
          out += hex[(c >> 4) & 0x0F];
          out += hex[c & 0x0F];
        } else {
          out += c;
        }
    }
  }
}

void appendQuoted(std::string& out, std::string_view text) {
  out += '"';
  appendEscaped(out, text);
  out += '"';
}

bool finiteNumber(const JSONObject& o) {
  const auto n = o.number();
  return n->kind() != JSONNumber::Kind::real || std::isfinite(n->rawDouble());
}

// What the strict serialiser can write: a list or a map at the top; inside,
// finite numbers, valid UTF-8 texts, nulls, lists and maps, no deeper than
// the nesting limit. Walked with an explicit stack.
bool isValidJSONObject(const JSON& value) {
  if (value.type() != JSONType::array && value.type() != JSONType::dictionary) return false;
  std::vector<std::pair<const JSONObject*, int>> pending;
  const JSONObject root = value.object();
  pending.push_back({&root, 1});
  while (!pending.empty()) {
    const auto [o, level] = pending.back();
    pending.pop_back();
    switch (o->kind()) {
      case JSONObject::Kind::absent:
      case JSONObject::Kind::null: break;
      case JSONObject::Kind::number:
        if (!finiteNumber(*o)) return false;
        break;
      case JSONObject::Kind::string:
        if (!jsonIsValidUTF8(o->stringView())) return false;
        break;
      case JSONObject::Kind::bytes:
      case JSONObject::Kind::unsupported: return false;
      case JSONObject::Kind::array:
        if (level > kJSONMaxNesting) return false;
        for (const JSONObject& item : o->items()) pending.push_back({&item, level + 1});
        break;
      case JSONObject::Kind::dictionary:
        if (level > kJSONMaxNesting) return false;
        for (const auto& m : o->members()) {
          if (!jsonIsValidUTF8(m.key)) return false;
          pending.push_back({&m.value, level + 1});
        }
        break;
    }
  }
  return true;
}

void newline(std::string& out, bool pretty, int level) {
  if (!pretty) return;
  out += '\n';
  out.append(static_cast<std::size_t>(level) * 2, ' ');
}

// Depth is bounded by isValidJSONObject.
void serialise(std::string& out, const JSONObject& o, bool pretty, int level) {
  switch (o.kind()) {
    case JSONObject::Kind::number: {
      const JSONNumber n = *o.number();
      out += n.isBool() ? (n.boolValue() ? "true" : "false") : n.stringValue();
      break;
    }
    case JSONObject::Kind::string: appendQuoted(out, o.stringView()); break;
    case JSONObject::Kind::array: {
      const auto items = o.items();
      out += '[';
      for (std::size_t i = 0; i < items.size(); ++i) {
        if (i) out += ',';
        newline(out, pretty, level + 1);
        serialise(out, items[i], pretty, level + 1);
      }
      if (!items.empty()) newline(out, pretty, level);
      out += ']';
      break;
    }
    case JSONObject::Kind::dictionary: {
      const auto members = o.members();
      out += '{';
      for (std::size_t i = 0; i < members.size(); ++i) {
        if (i) out += ',';
        newline(out, pretty, level + 1);
        appendQuoted(out, members[i].key);
        out += pretty ? ": " : ":";
        serialise(out, members[i].value, pretty, level + 1);
      }
      if (!members.empty()) newline(out, pretty, level);
      out += '}';
      break;
    }
    default: out += "null"; break;
  }
}

std::optional<std::string> decode(std::string bytes, JSONEncoding encoding) {
  switch (encoding) {
    case JSONEncoding::utf8:
      if (!jsonIsValidUTF8(bytes)) return std::nullopt;
      break;
    case JSONEncoding::ascii:
      for (char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80) return std::nullopt;
      break;
  }
  return bytes;
}

struct RenderOptions {
  JSONEncoding encoding = JSONEncoding::utf8;
  JSONWritingOptions serialization = JSONWritingOptions::prettyPrinted;
  bool castNilToNSNull = false;
};

std::optional<std::string> render(const JSON& value, const RenderOptions& options, std::int64_t depth, int level);

// The library's own writer: compact, every text escaped, depth-budgeted.
std::string renderContainer(const JSON& value, const RenderOptions& options, std::int64_t depth, int level) {
  if (level >= kJSONMaxNesting) throw SwiftyJSONException(SwiftyJSONError::elementTooDeep);
  std::string out;
  auto piece = [&](const JSONObject& element, SwiftyJSONError failure) {
    if (element.kind() == JSONObject::Kind::absent) {
      out += "null";
      return;
    }
    const JSON wrapped(element);
    if (wrapped.type() == JSONType::number && !finiteNumber(wrapped.object())) throw SwiftyJSONException(failure);
    const auto text = render(wrapped, options, depth - 1, level + 1);
    if (!text) throw SwiftyJSONException(failure);
    if (wrapped.type() == JSONType::string) {
      appendQuoted(out, *text);
    } else {
      out += *text;
    }
  };
  const JSONObject object = value.object();
  if (value.type() == JSONType::array) {
    out += '[';
    bool first = true;
    for (const JSONObject& item : object.items()) {
      if (!first) out += ',';
      first = false;
      piece(item, SwiftyJSONError::invalidJSON);
    }
    out += ']';
  } else {
    out += '{';
    bool first = true;
    for (const auto& m : object.members()) {
      if (!first) out += ',';
      first = false;
      appendQuoted(out, m.key);
      out += ": ";
      piece(m.value, SwiftyJSONError::elementTooDeep);
    }
    out += '}';
  }
  return out;
}

std::optional<std::string> render(const JSON& value, const RenderOptions& options, std::int64_t depth, int level) {
  if (depth < 0) throw SwiftyJSONException(SwiftyJSONError::invalidJSON);
  switch (value.type()) {
    case JSONType::number: return value.numberValue().stringValue();
    case JSONType::string: return value.stringValue();
    case JSONType::bool_: return std::string(value.boolValue() ? "true" : "false");
    case JSONType::null: return std::string("null");
    case JSONType::unknown: return std::nullopt;
    case JSONType::array:
    case JSONType::dictionary: break;
  }
  // A failure inside a list or map makes just that container render as none.
  try {
    if (!options.castNilToNSNull) return decode(value.rawData(options.serialization), options.encoding);
    return renderContainer(value, options, depth, level);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

std::optional<std::string> renderTop(const JSON& value, const RenderOptions& options, std::int64_t depth) {
  try {
    return render(value, options, depth, 0);
  } catch (const SwiftyJSONException& e) {
    jsonLog(std::string("Could not serialize object to JSON because: ") + e.what());
    return std::nullopt;
  }
}

}  // namespace

std::string JSON::rawData(JSONWritingOptions options) const {
  if (!isValidJSONObject(*this)) throw SwiftyJSONException(Error::invalidJSON);
  std::string out;
  serialise(out, object_, (static_cast<unsigned>(options) & 1u) != 0, 0);
  return out;
}

std::optional<std::string> JSON::rawString(JSONEncoding encoding, JSONWritingOptions options) const {
  RenderOptions render;
  render.encoding = encoding;
  render.serialization = options;
  return renderTop(*this, render, 10);
}

std::optional<std::string> JSON::rawString(const JSONWritingOptionsMap& map) const {
  RenderOptions render;
  std::int64_t depth = 10;
  auto read = [&map]<typename T>(writingOptionsKeys key, T& into) {
    const auto it = map.find(key);
    if (it != map.end())
      if (const T* v = std::get_if<T>(&it->second)) into = *v;
  };
  read(writingOptionsKeys::encoding, render.encoding);
  read(writingOptionsKeys::jsonSerialization, render.serialization);
  read(writingOptionsKeys::castNilToNSNull, render.castNilToNSNull);
  read(writingOptionsKeys::maxObjextDepth, depth);
  return renderTop(*this, render, depth);
}

std::string JSON::description() const { return rawString().value_or("unknown"); }

std::ostream& operator<<(std::ostream& out, const JSON& value) { return out << value.description(); }

}  // namespace hw
