#include "json/json_url.h"

#include <cstdint>

namespace hw {

namespace {

bool isAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isHex(char c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool isUnreserved(char c) { return isAlpha(c) || isDigit(c) || c == '-' || c == '.' || c == '_' || c == '~'; }
bool isSubDelim(char c) {
  switch (c) {
    case '!': case '$': case '&': case '\'': case '(': case ')':
    case '*': case '+': case ',': case ';': case '=': return true;
    default: return false;
  }
}

enum class Component { authority, path, query };

bool allowedIn(Component component, char c) {
  if (isUnreserved(c) || isSubDelim(c) || c == ':' || c == '@') return true;
  switch (component) {
    case Component::authority: return c == '[' || c == ']';
    case Component::path: return c == '/';
    case Component::query: return c == '/' || c == '?';
  }
  return false;
}

bool validComponent(std::string_view s, Component component) {
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%') {
      if (i + 2 >= s.size() || !isHex(s[i + 1]) || !isHex(s[i + 2])) return false;
      i += 2;
    } else if (!allowedIn(component, s[i])) {
      return false;
    }
  }
  return true;
}

// Length of a well-formed UTF-8 sequence at s[i], or 0.
std::size_t utf8Length(std::string_view s, std::size_t i) {
  const auto b = static_cast<unsigned char>(s[i]);
  std::size_t n;
  std::uint32_t cp;
  if (b < 0x80) return 1;
  if (b >= 0xC2 && b <= 0xDF) n = 2, cp = b & 0x1F;
  else if (b >= 0xE0 && b <= 0xEF) n = 3, cp = b & 0x0F;
  else if (b >= 0xF0 && b <= 0xF4) n = 4, cp = b & 0x07;
  else return 0;
  if (i + n > s.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    const auto c = static_cast<unsigned char>(s[i + k]);
    if ((c & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (c & 0x3F);
  }
  if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

}  // namespace

bool jsonIsValidUTF8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    if (static_cast<unsigned char>(text[i]) < 0x80) {
      ++i;
      continue;
    }
    const std::size_t n = utf8Length(text, i);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

bool jsonContainsPercentEscape(std::string_view text) {
  for (std::size_t i = 0; i + 2 < text.size(); ++i)
    if (text[i] == '%' && isHex(text[i + 1]) && isHex(text[i + 2])) return true;
  return false;
}

std::optional<std::string> jsonPercentEncodeQuery(std::string_view text) {
  static constexpr char hex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t n = utf8Length(text, i);
    if (n == 0) return std::nullopt;
    for (std::size_t k = 0; k < n; ++k) {
      const char c = text[i + k];
      const bool allowed = n == 1 && (isAlpha(c) || isDigit(c) || c == '!' || c == '$' || c == '&' || c == '\'' ||
                                      c == '(' || c == ')' || c == '*' || c == '+' || c == ',' || c == '-' ||
                                      c == '.' || c == '/' || c == ':' || c == ';' || c == '=' || c == '?' ||
                                      c == '@' || c == '_' || c == '~');
      if (allowed) {
        out += c;
      } else {
        const auto b = static_cast<unsigned char>(c);
        out += '%';
        out += hex[b >> 4];
        out += hex[b & 0x0F];
      }
    }
    i += n;
  }
  return out;
}

std::optional<JSONURL> JSONURL::fromString(std::string_view text) {
  if (text.empty()) return std::nullopt;
  JSONURL url;
  url.text_ = std::string(text);
  std::size_t pos = 0;
  // A scheme is letters first, then letters, digits, "+", "-" or ".", then a colon.
  if (isAlpha(text[0])) {
    std::size_t i = 1;
    while (i < text.size() && (isAlpha(text[i]) || isDigit(text[i]) || text[i] == '+' || text[i] == '-' || text[i] == '.'))
      ++i;
    if (i < text.size() && text[i] == ':') {
      url.schemeEnd_ = i;
      pos = i + 1;
    }
  }
  url.authorityBegin_ = url.authorityEnd_ = pos;
  if (text.substr(pos, 2) == "//") {
    url.authorityBegin_ = pos + 2;
    std::size_t end = text.find_first_of("/?#", url.authorityBegin_);
    if (end == std::string_view::npos) end = text.size();
    url.authorityEnd_ = end;
    pos = end;
  }
  url.pathBegin_ = pos;
  std::size_t end = text.find_first_of("?#", pos);
  url.pathEnd_ = end == std::string_view::npos ? text.size() : end;
  url.queryBegin_ = url.queryEnd_ = url.pathEnd_;
  pos = url.pathEnd_;
  if (pos < text.size() && text[pos] == '?') {
    url.queryBegin_ = pos + 1;
    end = text.find('#', url.queryBegin_);
    url.queryEnd_ = end == std::string_view::npos ? text.size() : end;
    pos = url.queryEnd_;
  }
  url.fragmentBegin_ = text.size();
  if (pos < text.size()) url.fragmentBegin_ = pos + 1;  // text[pos] is '#'

  if (!validComponent(url.authority(), Component::authority) || !validComponent(url.path(), Component::path) ||
      !validComponent(url.query(), Component::query) || !validComponent(url.fragment(), Component::query))
    return std::nullopt;
  return url;
}

}  // namespace hw
